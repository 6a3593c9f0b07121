// The client side of an HTTP proxy: a CONNECT tunnel (HttpConnectClient, driven
// through ProxyHandshake) and the absolute-form request head for plain http:// through
// the proxy. One machine per connection, one thread at a time.
#pragma once

#include <string>
#include <string_view>

#include "core/net/proxy_handshake.h"

namespace core {

// Sends "CONNECT host:port HTTP/1.1" with "Host:" and, with credentials,
// "Proxy-Authorization: Basic base64(user:pass)"; reads the reply head up to its blank
// line (interim 1xx heads are passed over), at most kMaxHttpHead bytes. A 2xx status
// opens the tunnel; 407 is kAuthRequired without credentials and kAuthRefused with;
// any other status is kRefused with the status as reply_code(). A reply that does not
// begin with "HTTP/" is kNotHttpProxy.
class HttpConnectClient : public ProxyHandshake {
 public:
  explicit HttpConnectClient(const HandshakeRequest& request);

 private:
  void Parse() override;
  bool CodeIsHttpStatus() const override { return true; }

  bool has_credentials_ = false;
  size_t searched_ = 0;  // bytes of in_ already searched for the head's end
};

// A request head for plain http:// through an HTTP proxy, ending with its blank line:
// "METHOD http://host:port/path HTTP/1.1", "Host:" (without the port when it is 80),
// "Proxy-Authorization: Basic ..." with credentials, then `extra_fields` (complete
// lines each ending in CRLF, may be empty). `path` starts with "/" ("/" when empty).
// Returns "" when the method is not a token, the target is invalid, or the path or the
// extra fields hold a CR, LF (outside line ends) or NUL that would split the head.
std::string WriteProxiedRequestHead(std::string_view method, const NetTarget& target,
                                    std::string_view path, std::string_view extra_fields,
                                    const ProxyCredentials* credentials);

}  // namespace core
