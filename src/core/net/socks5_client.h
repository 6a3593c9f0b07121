// The client side of SOCKS5 CONNECT (RFC 1928) with the user name and password log-in
// (RFC 1929), driven through ProxyHandshake. One machine per connection, one thread at
// a time.
#pragma once

#include "core/net/proxy_handshake.h"

namespace core {

// Offers "no authentication" and, with credentials, user/password; logs in when the
// proxy picks it; then sends CONNECT with the target as ATYP domain (a name goes to the
// proxy, never resolved here), IPv4 or IPv6. The reply's bound address (IPv4, IPv6 or
// a domain of any length) is read whole before the tunnel opens, in whatever pieces it
// arrives. A greeting answer not starting with 0x05 is kNotSocks5; method 0xFF is
// kAuthRequired (nothing but no-auth offered) or kNoAcceptableMethod; a refused log-in
// is kAuthRefused; reply codes 1..8 map to their reasons, others to kBadReply.
class Socks5Client : public ProxyHandshake {
 public:
  explicit Socks5Client(const HandshakeRequest& request);
  // Greets and logs in before the target is known (a connection opened ahead of its
  // client); the CONNECT waits for SetTarget().
  explicit Socks5Client(std::optional<ProxyCredentials> credentials);

  bool AwaitingTarget() const override;
  void SetTarget(const NetTarget& target) override;

  // The address the proxy reports it connected from, once the tunnel is up; a domain
  // reply keeps its bytes as sent.
  const NetTarget& bound() const { return bound_; }

 private:
  enum class Step { kMethod, kLogin, kReply };
  void Parse() override;
  bool ParseMethod();
  bool ParseLogin();
  void ParseReply();
  bool Greet();
  // Sends the CONNECT once the method allows it and the target is known.
  void SendConnectWhenReady();

  Step step_ = Step::kMethod;
  std::optional<ProxyCredentials> credentials_;
  std::string connect_;  // the CONNECT request (empty until the target is known),
                         // sent once the method allows it
  NetTarget bound_;
};

}  // namespace core
