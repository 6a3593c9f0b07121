#include "core/sysproxy/proxy_server_text.h"

#include "core/base/text.h"
#include "core/net/net_target.h"
#include "core/proxylist/proxy_line.h"
#include "core/sysproxy/proxy_in_use.h"

namespace core {

SystemProxyChange PlanSystemProxy(std::string_view text, const std::vector<uint16_t>& relay_ports) {
  std::string_view trimmed = Trim(text);
  ProxyInUse proxy = ProxyInUseOfText(trimmed);
  if (proxy.empty() && !trimmed.empty()) {
    ProxyLine p;
    ParseProxyLine(trimmed, &p);
    SystemProxyChange change;
    change.error_message = Format("[%s:%s@%s]是一个无效的代理服务器项目", p.address.c_str(),
                                  p.port.c_str(), p.type.c_str());
    return change;
  }
  return PlanSystemProxyOf(proxy, relay_ports);
}

SystemProxyReadBack ReadBackSystemProxy(std::string_view proxy_server, std::string_view enable) {
  std::string_view text = Trim(proxy_server);
  if (size_t semi = text.find(';'); semi != std::string_view::npos) text = text.substr(0, semi);
  std::string line(text);
  if (size_t eq = text.find('='); eq != std::string_view::npos) {
    std::string kind = AsciiUpperCopy(Trim(text.substr(0, eq)));
    if (kind == "HTTP" || kind == "HTTPS" || kind == "FTP" || kind == "GOPHER" || kind == "SOCKS") {
      line = std::string(Trim(text.substr(eq + 1))) + "@" + kind;
    }
  }
  SystemProxyReadBack r;
  r.list_line = line;
  if (LeadingDigitsValue(enable) != 0 && !line.empty()) r.current_proxy = line;
  return r;
}

bool ProxyForPage(std::string_view proxy_server, std::string_view scheme, std::string* host,
                  uint16_t* port) {
  std::string_view plain, socks, own;
  std::string_view rest = proxy_server;
  while (!rest.empty()) {
    size_t semi = rest.find(';');
    std::string_view entry = Trim(rest.substr(0, semi));
    rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
    if (entry.empty()) continue;
    size_t eq = entry.find('=');
    if (eq == std::string_view::npos) {
      if (plain.empty()) plain = entry;
      continue;
    }
    std::string kind = AsciiUpperCopy(Trim(entry.substr(0, eq)));
    std::string_view value = Trim(entry.substr(eq + 1));
    if (kind == AsciiUpperCopy(scheme) && own.empty()) own = value;
    if (kind == "SOCKS" && socks.empty()) socks = value;
  }
  std::string_view chosen = !own.empty() ? own : !plain.empty() ? plain : socks;
  // "http://host:port" is how some programs write the server.
  if (size_t sep = chosen.find("://"); sep != std::string_view::npos) chosen = chosen.substr(sep + 3);
  if (size_t slash = chosen.find('/'); slash != std::string_view::npos) chosen = chosen.substr(0, slash);
  if (chosen.empty()) return false;
  size_t colon = chosen.rfind(':');
  std::string_view name = colon == std::string_view::npos ? chosen : chosen.substr(0, colon);
  uint32_t number = 80;
  if (colon != std::string_view::npos) {
    std::string_view digits = chosen.substr(colon + 1);
    if (digits.empty() || digits.size() > 5) return false;
    number = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return false;
      number = number * 10 + uint32_t(c - '0');
    }
  }
  if (name.empty() || number == 0 || number > 65535) return false;
  *host = std::string(name);
  *port = uint16_t(number);
  return true;
}

}  // namespace core
