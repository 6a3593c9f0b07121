#include "core/sysproxy/start_list.h"

#include "core/base/text.h"
#include "core/proxylist/proxy_line.h"

namespace core {
namespace {

// The port's number, leading zeros aside; 0 for anything that is no port.
uint32_t PortNumber(std::string_view port) {
  uint32_t n = 0;
  for (char c : port) {
    if (!IsDigit(c) || n > 65535) return 0;
    n = n * 10 + uint32_t(c - '0');
  }
  return n > 65535 ? 0 : n;
}

// Whether a row of type `row` is what a setting read back with kind `setting` can be.
bool SettingCanBe(std::string_view setting, std::string_view row) {
  if (setting.empty()) return row.empty() || row == "HTTP" || row == "HTTPS";
  if (setting == "HTTP") return row.empty() || row == "HTTP";
  if (setting == "SOCKS") return row == "SOCKS" || row == "SOCKS4";
  return row == setting;
}

}  // namespace

int64_t FindSystemProxyRow(const ProxyList& list, std::string_view line) {
  ProxyLine setting;
  if (!ParseProxyLine(line, &setting) || setting.has_credentials()) return -1;
  uint32_t port = PortNumber(setting.port);
  if (port == 0) return -1;
  for (size_t i = 0; i < list.size(); ++i) {
    ProxyRow row = list.row(i);
    if (!row.login && PortNumber(row.port) == port &&
        EqualsIgnoreAsciiCase(row.address, setting.address) &&
        SettingCanBe(setting.type, row.type)) {
      return int64_t(i);
    }
  }
  return -1;
}

ProxyInUse ProxyInUseOfSetting(const ProxyList& list, const SystemProxyReadBack& back) {
  if (back.current_proxy.empty()) return {};
  int64_t row = FindSystemProxyRow(list, back.list_line);
  return row >= 0 ? ProxyInUseOfRow(list, size_t(row)) : ProxyInUseOfText(back.current_proxy);
}

StartedList LoadListAtStart(ProxyList& list, const SystemProxyReadBack& back, ProfileStore& store,
                            SecretCodec* codec) {
  StartedList started;
  started.note = LoadSavedList(list, store, codec);
  if (back.list_line.empty()) return started;
  if (int64_t row = FindSystemProxyRow(list, back.list_line); row >= 0) {
    if (!back.current_proxy.empty()) started.in_use = ProxyInUseOfRow(list, size_t(row));
    return started;
  }
  // The setting's row leads the list, as the proxy the user had before the
  // program started. A full list has no room for it; it is still in use.
  AddResult added = list.AddProxy(back.list_line, true);
  if (added == AddResult::kAdded) {
    list.SetSelected(list.size() - 1, false);
    list.MoveRowToFront(list.size() - 1);
    if (!back.current_proxy.empty()) started.in_use = ProxyInUseOfRow(list, 0);
    return started;
  }
  if (back.current_proxy.empty()) return started;
  // A row the setting cannot stand for as written but that is the same proxy
  // ("socks=" for a SOCKS5 row, which this program writes so): that row is in
  // use, rather than a text of no row beside it.
  ProxyLine setting;
  if (added == AddResult::kDuplicate && ParseProxyLine(back.list_line, &setting)) {
    std::string key = DuplicateKey(setting.address, setting.port, setting.type);
    for (size_t i = 0; i < list.size(); ++i) {
      ProxyRow row = list.row(i);
      if (!row.login && DuplicateKey(row.address, row.port, row.type) == key) {
        started.in_use = ProxyInUseOfRow(list, i);
        return started;
      }
    }
  }
  started.in_use = ProxyInUseOfText(back.current_proxy);
  return started;
}

}  // namespace core
