// Why a proxy handshake failed, as a value the caller can act on and a short Chinese
// text for the user. Shared by the client machines and the relay's failure replies.
// Pure data and functions; any thread.
#pragma once

namespace core {

enum class ProxyFailure : int {
  kNone = 0,
  kBadTarget,                // the target host or port cannot be sent
  kSocks4NeedsIpv4,          // plain SOCKS4 with a name or an IPv6 target
  kBadCredentials,           // too long for the protocol, or a NUL byte in SOCKS4
  kRefused,                  // the proxy said no (HTTP non-2xx, SOCKS4 0x5B..0x5D, SOCKS5 2)
  kAuthRequired,             // HTTP 407 or SOCKS5 method 0xFF without credentials given
  kAuthRefused,              // HTTP 407 or a SOCKS5 log-in refused with credentials given
  kNoAcceptableMethod,       // SOCKS5 method 0xFF although credentials were offered
  kNotHttpProxy,             // the reply does not begin like an HTTP response
  kNotSocks4,                // the reply's first byte is not a SOCKS4 reply version
  kNotSocks5,                // the greeting's answer does not begin with 0x05
  kBadReply,                 // malformed, too long, or cut short by the proxy's close
  kProxyInternalError,       // SOCKS5 1
  kNetworkUnreachable,       // SOCKS5 3
  kHostUnreachable,          // SOCKS5 4
  kTargetRefused,            // SOCKS5 5
  kTargetTimedOut,           // SOCKS5 6
  kCommandNotSupported,      // SOCKS5 7
  kAddressTypeNotSupported,  // SOCKS5 8
  kTimeout,                  // the caller's deadline passed
  kProxyUnreachable,         // the proxy's own port could not be connected to
};

// The user's text for `failure`, UTF-8, never empty ("" only for kNone).
const char* ProxyFailureText(ProxyFailure failure);

// The same in English, for the command-line checker's output ("" only for kNone).
const char* ProxyFailureEnglish(ProxyFailure failure);

}  // namespace core
