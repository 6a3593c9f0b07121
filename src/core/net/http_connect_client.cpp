#include "core/net/http_connect_client.h"

#include "core/base/text.h"
#include "core/net/http_head.h"

namespace core {
namespace {

bool HasLineBreakOrNul(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::string AuthorizationLine(const ProxyCredentials& c) {
  return "Proxy-Authorization: Basic " + Base64Encode(c.user + ":" + c.password) + "\r\n";
}

bool CredentialsSendable(const ProxyCredentials& c) {
  // Basic credentials cannot carry a colon in the user name; the line must stay one line.
  return c.user.find(':') == std::string::npos && !HasLineBreakOrNul(c.user) &&
         !HasLineBreakOrNul(c.password) && c.user.size() + c.password.size() < 4096;
}

}  // namespace

HttpConnectClient::HttpConnectClient(const HandshakeRequest& request)
    : has_credentials_(request.credentials.has_value()) {
  if (ClassifyHost(request.target.host) == HostKind::kInvalid || request.target.port == 0) {
    Fail(ProxyFailure::kBadTarget);
    return;
  }
  if (has_credentials_ && !CredentialsSendable(*request.credentials)) {
    Fail(ProxyFailure::kBadCredentials);
    return;
  }
  std::string authority = HostPortText(request.target);
  std::string head = "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n";
  if (has_credentials_) head += AuthorizationLine(*request.credentials);
  head += "\r\n";
  Send(head);
}

void HttpConnectClient::Parse() {
  while (state() == HandshakeState::kInProgress) {
    // Decide early on a proxy that is not speaking HTTP at all.
    size_t check = in_.size() < 5 ? in_.size() : 5;
    if (!StartsWithIgnoreAsciiCase("HTTP/", std::string_view(in_).substr(0, check))) {
      Fail(ProxyFailure::kNotHttpProxy);
      return;
    }
    size_t end = FindHeadEnd(in_, searched_);
    if (end == std::string_view::npos) {
      searched_ = in_.size();
      if (in_.size() > kMaxHttpHead) Fail(ProxyFailure::kBadReply);
      return;
    }
    if (end > kMaxHttpHead) {
      Fail(ProxyFailure::kBadReply);
      return;
    }
    HttpHead head;
    int status = -1;
    if (ParseHttpHead(std::string_view(in_).substr(0, end), &head)) {
      status = ParseStatusLine(head.start_line);
    }
    if (status < 0) {
      Fail(ProxyFailure::kBadReply);
    } else if (status < 200) {
      // An interim head (100 Continue and the like): the real answer follows.
      in_.erase(0, end);
      searched_ = 0;
      continue;
    } else if (status < 300) {
      TunnelUp(end, status);
    } else if (status == 407) {
      Fail(has_credentials_ ? ProxyFailure::kAuthRefused : ProxyFailure::kAuthRequired, status);
    } else {
      Fail(ProxyFailure::kRefused, status);
    }
    return;
  }
}

std::string WriteProxiedRequestHead(std::string_view method, const NetTarget& target,
                                    std::string_view path, std::string_view extra_fields,
                                    const ProxyCredentials* credentials) {
  if (method.empty()) return "";
  for (char c : method) {
    if (!IsHttpTokenChar(c)) return "";
  }
  if (ClassifyHost(target.host) == HostKind::kInvalid || target.port == 0) return "";
  if (HasLineBreakOrNul(path) || path.find(' ') != std::string_view::npos) return "";
  if (!path.empty() && path.front() != '/') return "";
  if (credentials && !CredentialsSendable(*credentials)) return "";
  // Each extra line must be a field line ending in CRLF with nothing else inside.
  for (std::string_view rest = extra_fields; !rest.empty();) {
    size_t end = rest.find("\r\n");
    if (end == std::string_view::npos || end == 0) return "";
    std::string_view line = rest.substr(0, end);
    if (HasLineBreakOrNul(line) || line.find(':') == std::string_view::npos) return "";
    rest.remove_prefix(end + 2);
  }
  std::string authority = HostPortText(target);
  std::string host_field = authority;
  if (target.port == 80) host_field = authority.substr(0, authority.rfind(':'));
  std::string head(method);
  head += " http://" + authority + (path.empty() ? std::string("/") : std::string(path));
  head += " HTTP/1.1\r\nHost: " + host_field + "\r\n";
  if (credentials) head += AuthorizationLine(*credentials);
  head.append(extra_fields);
  head += "\r\n";
  return head;
}

}  // namespace core
