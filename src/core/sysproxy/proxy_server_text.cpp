#include "core/sysproxy/proxy_server_text.h"

#include "core/base/text.h"
#include "core/proxylist/proxy_line.h"

namespace core {

SystemProxyChange PlanSystemProxy(std::string_view text) {
  SystemProxyChange change;
  std::string_view trimmed = Trim(text);
  ProxyLine p;
  // An address that would read as several entries of the system's proxy list
  // (a line such as "x;http=5.6.7.8:80") is refused like any bad text.
  bool parsed = ParseProxyLine(trimmed, &p) && AddressFitsProxyServerText(p.address);
  if (!parsed && !trimmed.empty()) {
    change.error_message = Format("[%s:%s@%s]是一个无效的代理服务器项目", p.address.c_str(),
                                  p.port.c_str(), p.type.c_str());
    return change;
  }
  change.accepted = true;
  change.current_proxy = std::string(trimmed);
  change.host = p.address;
  if (trimmed.empty()) return change;
  change.enable = true;
  if (p.type.empty() || p.type == "HTTP") {
    change.proxy_server = HostPortText(p.address, p.port);
  } else if (p.type == "SOCKS" || p.type == "SOCKS4" || p.type == "SOCKS5") {
    change.proxy_server = "socks=" + HostPortText(p.address, p.port);
  } else {
    std::string kind = p.type;
    for (char& c : kind) c = char(c - 'A' + 'a');
    change.proxy_server = kind + "=" + HostPortText(p.address, p.port);
  }
  return change;
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

}  // namespace core
