// The client side of SOCKS4 and SOCKS4a CONNECT, driven through ProxyHandshake. One
// machine per connection, one thread at a time.
#pragma once

#include "core/net/proxy_handshake.h"

namespace core {

// Sends VN=4, CD=1, the port, the IPv4 address and the user id (the credentials' user
// name; SOCKS4 has no password) ended by NUL. Plain SOCKS4 takes an IPv4 literal only
// (kSocks4NeedsIpv4 otherwise); SOCKS4a sends a name as address 0.0.0.1 followed by the
// name and NUL. Reads the 8-byte reply: first byte 0 (or 4, as some servers send),
// 0x5A opens the tunnel, 0x5B..0x5D are kRefused, any other code kBadReply; either way
// the code is reply_code().
class Socks4Client : public ProxyHandshake {
 public:
  Socks4Client(const HandshakeRequest& request, bool allow_names);

 private:
  void Parse() override;
};

}  // namespace core
