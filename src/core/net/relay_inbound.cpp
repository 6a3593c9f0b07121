#include "core/net/relay_inbound.h"

#include <array>
#include <utility>

#include "core/base/text.h"

namespace core {
namespace {

constexpr char kSocks5 = 0x05;
constexpr char kSocks4 = 0x04;
// A method or CONNECT line longer than this before its first blank is not HTTP.
constexpr size_t kMaxMethod = 24;

enum Socks5Reply : char {
  kSucceeded = 0x00,
  kGeneralFailure = 0x01,
  kNotAllowed = 0x02,
  kNetworkUnreachable = 0x03,
  kHostUnreachable = 0x04,
  kConnectionRefused = 0x05,
  kTtlExpired = 0x06,
  kCommandNotSupported = 0x07,
  kAddressTypeNotSupported = 0x08,
};

std::string Socks5ReplyBytes(char code) { return {kSocks5, code, 0, 0x01, 0, 0, 0, 0, 0, 0}; }

std::string HttpReply(std::string_view status, std::string_view text,
                      std::string_view extra_field = "") {
  std::string body(text);
  body += "\r\n";
  return "HTTP/1.1 " + std::string(status) + "\r\n" + std::string(extra_field) +
         "Content-Type: text/plain; charset=utf-8\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// Compares without stopping at the first difference, so that the time taken
// tells a guesser nothing about how much of a password was right.
bool SameSecret(std::string_view a, std::string_view b) {
  unsigned char diff = a.size() == b.size() ? 0 : 1;
  for (size_t i = 0; i < a.size(); ++i) {
    diff |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
  }
  return diff == 0;
}

bool SameLogin(const ProxyCredentials& want, std::string_view user, std::string_view password) {
  bool user_ok = SameSecret(user, want.user);
  bool password_ok = SameSecret(password, want.password);
  return user_ok && password_ok;
}

bool IsHopField(std::string_view name) {
  return EqualsIgnoreAsciiCase(name, "Proxy-Authorization") ||
         EqualsIgnoreAsciiCase(name, "Proxy-Connection") ||
         EqualsIgnoreAsciiCase(name, "Connection") || EqualsIgnoreAsciiCase(name, "Keep-Alive");
}

}  // namespace

const char* InboundRefusalText(InboundRefusal refusal) {
  switch (refusal) {
    case InboundRefusal::kNone:
      return "";
    case InboundRefusal::kHeadTooLarge:
      return "请求头太长";
    case InboundRefusal::kGarbage:
      return "无法识别的请求（不是HTTP代理请求也不是SOCKS5）";
    case InboundRefusal::kNotProxyRequest:
      return "不是代理请求（需要CONNECT或http://开头的完整地址）";
    case InboundRefusal::kBadTarget:
      return "目标地址无效";
    case InboundRefusal::kLoop:
      return "目标是本中转自己的端口";
    case InboundRefusal::kUnsupportedCommand:
      return "只支持CONNECT命令";
    case InboundRefusal::kBadAddressType:
      return "不支持的地址类型";
    case InboundRefusal::kAuthOnly:
      return "客户端只提供需要认证的方式，本中转不需要认证";
    case InboundRefusal::kSocks4:
      return "不支持SOCKS4，请使用SOCKS5或HTTP代理";
    case InboundRefusal::kBadFraming:
      return "请求体的长度无法确定（Content-Length与Transfer-Encoding同时出现，或不支持的传输编码）";
    case InboundRefusal::kBadChunk:
      return "请求体的分块格式有误";
    case InboundRefusal::kLoginRequired:
      return "本中转需要用户名和密码";
    case InboundRefusal::kLoginRefused:
      return "用户名或密码错误";
  }
  return "";
}

RelayInbound::RelayInbound(const RelayInboundOptions& options) : options_(options) {}

InboundState RelayInbound::Feed(std::string_view received) {
  if (state_ == InboundState::kRefused) return state_;
  in_.append(received);
  if (state_ == InboundState::kReady || in_.empty()) return state_;
  // The first byte decides the protocol; after the SOCKS5 greeting in_ starts afresh.
  if (socks_ || in_[0] == kSocks5) {
    socks_ = true;
    ParseSocks5();
  } else if (in_[0] == kSocks4) {
    Refuse(InboundRefusal::kSocks4);
  } else if (in_[0] >= 'A' && in_[0] <= 'Z') {
    ParseHttp();
  } else {
    Refuse(InboundRefusal::kGarbage);
  }
  return state_;
}

void RelayInbound::ConsumeOutput(size_t count) {
  output_.erase(0, count < output_.size() ? count : output_.size());
}

std::string RelayInbound::TakeOutput() {
  std::string out;
  out.swap(output_);
  return out;
}

std::string RelayInbound::TakeEarlyPayload() {
  if (state_ != InboundState::kReady) return "";
  std::string out;
  out.swap(in_);
  if (kind_ == InboundKind::kHttpRequest) {
    // Only the request's own body goes on; a pipelined request after it is
    // never passed on unread.
    if (!body_) body_.emplace(body_framing_, body_length_, true);
    out.resize(body_->Feed(out));
    if (body_->failed()) Refuse(InboundRefusal::kBadChunk);
  }
  return out;
}

std::optional<HttpBodyReader> RelayInbound::TakeRequestBody() {
  if (kind_ != InboundKind::kHttpRequest || state_ != InboundState::kReady) return std::nullopt;
  if (!body_) body_.emplace(body_framing_, body_length_, true);
  return std::exchange(body_, std::nullopt);
}

void RelayInbound::Refuse(InboundRefusal why) {
  state_ = InboundState::kRefused;
  refusal_ = why;
  in_.clear();
  const char* text = InboundRefusalText(why);
  switch (why) {
    case InboundRefusal::kSocks4:
      output_ += std::string{0x00, 0x5B, 0, 0, 0, 0, 0, 0};
      break;
    case InboundRefusal::kAuthOnly:
      output_ += std::string{kSocks5, char(0xFF)};
      break;
    case InboundRefusal::kLoginRequired:
    case InboundRefusal::kLoginRefused:
      if (socks_login_) {
        output_ += std::string{0x01, 0x01};  // RFC 1929: the log-in failed
      } else if (socks_) {
        output_ += std::string{kSocks5, char(0xFF)};
      } else {
        output_ += HttpReply("407 Proxy Authentication Required", text,
                             "Proxy-Authenticate: Basic realm=\"relaymoth\"\r\n");
      }
      break;
    case InboundRefusal::kUnsupportedCommand:
      output_ += Socks5ReplyBytes(kCommandNotSupported);
      break;
    case InboundRefusal::kBadAddressType:
      output_ += Socks5ReplyBytes(kAddressTypeNotSupported);
      break;
    default:
      if (socks_greeted_) {
        output_ += Socks5ReplyBytes(why == InboundRefusal::kLoop ? kNotAllowed : kGeneralFailure);
      } else if (why == InboundRefusal::kHeadTooLarge) {
        output_ += HttpReply("431 Request Header Fields Too Large", text);
      } else if (why == InboundRefusal::kLoop) {
        output_ += HttpReply("403 Forbidden", text);
      } else {
        output_ += HttpReply("400 Bad Request", text);
      }
      break;
  }
}

void RelayInbound::AcceptTarget(InboundKind kind, NetTarget target, size_t consumed) {
  if (target.port == options_.listen_port && IsLoopbackHost(target.host)) {
    Refuse(InboundRefusal::kLoop);
    return;
  }
  state_ = InboundState::kReady;
  kind_ = kind;
  target_ = std::move(target);
  in_.erase(0, consumed);
}

void RelayInbound::ParseHttp() {
  // Refuse early what cannot become a request line, rather than wait for the limit.
  size_t blank = in_.find(' ');
  size_t method_end = blank == std::string::npos ? in_.size() : blank;
  for (size_t i = 0; i < method_end; ++i) {
    if (!IsHttpTokenChar(in_[i]) || i >= kMaxMethod) {
      Refuse(InboundRefusal::kGarbage);
      return;
    }
  }
  size_t end = FindHeadEnd(in_, searched_);
  if (end == std::string::npos) {
    searched_ = in_.size();
    if (in_.size() > options_.head_limit) Refuse(InboundRefusal::kHeadTooLarge);
    return;
  }
  if (end > options_.head_limit) {
    Refuse(InboundRefusal::kHeadTooLarge);
    return;
  }
  AcceptHttpRequest(std::string_view(in_).substr(0, end));
}

// Takes apart a complete request head: accepts its target or refuses it.
void RelayInbound::AcceptHttpRequest(std::string_view head) {
  HttpHead parsed;
  if (!ParseHttpHead(head, &parsed)) {
    Refuse(InboundRefusal::kGarbage);
    return;
  }
  std::string_view line = parsed.start_line;
  size_t sp1 = line.find(' ');
  size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
  if (sp2 == std::string_view::npos || line.find(' ', sp2 + 1) != std::string_view::npos) {
    Refuse(InboundRefusal::kGarbage);
    return;
  }
  // Nothing of the request is looked at for a client that has not logged in.
  if (options_.client_login && !HttpLoginMatches(parsed)) {
    bool offered = false;
    for (const HttpHeaderField& f : parsed.fields) {
      offered = offered || EqualsIgnoreAsciiCase(f.name, "Proxy-Authorization");
    }
    Refuse(offered ? InboundRefusal::kLoginRefused : InboundRefusal::kLoginRequired);
    return;
  }
  std::string_view method = line.substr(0, sp1);
  std::string_view uri = line.substr(sp1 + 1, sp2 - sp1 - 1);
  std::string_view version = line.substr(sp2 + 1);
  if (uri.empty() || !(version == "HTTP/1.1" || version == "HTTP/1.0")) {
    Refuse(InboundRefusal::kGarbage);
    return;
  }
  NetTarget target;
  if (method == "CONNECT") {
    if (!ParseAuthority(uri, 0, &target)) {
      Refuse(InboundRefusal::kBadTarget);
      return;
    }
    AcceptTarget(InboundKind::kHttpConnect, std::move(target), head.size());
    return;
  }
  if (!StartsWithIgnoreAsciiCase(uri, "http://")) {
    Refuse(InboundRefusal::kNotProxyRequest);
    return;
  }
  std::string_view rest = uri.substr(7);
  size_t path_at = rest.find_first_of("/?#");
  std::string_view authority = rest.substr(0, path_at);
  std::string_view path = path_at == std::string_view::npos ? "" : rest.substr(path_at);
  size_t at = authority.rfind('@');
  if (at != std::string_view::npos) authority.remove_prefix(at + 1);  // user info
  if (!ParseAuthority(authority, 80, &target)) {
    Refuse(InboundRefusal::kBadTarget);
    return;
  }
  method_ = std::string(method);
  version_ = std::string(version);
  authority_ = std::string(authority);
  path_ = std::string(path);
  if (path_.empty() || path_.front() != '/') path_.insert(path_.begin(), '/');
  // A body whose end the relay and the proxy could read differently would let a
  // second request ride inside the first (RFC 9112 §6.1): refused.
  bool has_length = false;
  std::string coding;
  for (const HttpHeaderField& f : parsed.fields) {
    if (EqualsIgnoreAsciiCase(f.name, "Content-Length")) has_length = true;
    if (EqualsIgnoreAsciiCase(f.name, "Transfer-Encoding")) {
      coding += coding.empty() ? "" : ",";
      coding += AsciiUpperCopy(Trim(f.value));
    }
  }
  if ((!coding.empty() && (has_length || coding != "CHUNKED")) ||
      !BodyFramingOf(parsed.fields, BodyFraming::kLength, &body_framing_, &body_length_)) {
    Refuse(InboundRefusal::kBadFraming);
    return;
  }
  for (const HttpHeaderField& f : parsed.fields) {
    // The URL's authority wins over a Host field that disagrees with it (RFC 9112).
    if (IsHopField(f.name) || EqualsIgnoreAsciiCase(f.name, "Host")) continue;
    fields_.push_back(std::string(f.name) + ": " + std::string(f.value));
  }
  AcceptTarget(InboundKind::kHttpRequest, std::move(target), head.size());
}

bool RelayInbound::HttpLoginMatches(const HttpHead& head) const {
  for (const HttpHeaderField& f : head.fields) {
    if (!EqualsIgnoreAsciiCase(f.name, "Proxy-Authorization")) continue;
    std::string_view value = Trim(f.value);
    if (!StartsWithIgnoreAsciiCase(value, "Basic ")) return false;
    std::optional<std::string> pair = Base64Decode(Trim(value.substr(6)));
    size_t colon = pair ? pair->find(':') : std::string::npos;
    if (colon == std::string::npos) return false;
    std::string_view p = *pair;
    return SameLogin(*options_.client_login, p.substr(0, colon), p.substr(colon + 1));
  }
  return false;
}

void RelayInbound::ParseSocks5() {
  if (!socks_greeted_ && !socks_login_) {
    if (in_.size() < 2) return;
    size_t count = static_cast<uint8_t>(in_[1]);
    if (in_.size() < 2 + count) return;
    // Without a log-in of its own the relay takes "no authentication" (0); with
    // one, only "user name and password" (2).
    char method = options_.client_login ? 0x02 : 0x00;
    bool offered = in_.find(method, 2) < 2 + count;
    in_.erase(0, 2 + count);
    if (!offered) {
      Refuse(options_.client_login ? InboundRefusal::kLoginRequired : InboundRefusal::kAuthOnly);
      return;
    }
    output_.append({kSocks5, method});
    (options_.client_login ? socks_login_ : socks_greeted_) = true;
  }
  if (socks_login_ && !ParseSocks5Login()) return;
  ParseSocks5Request();
}

// RFC 1929: 01, the user name's length and bytes, the password's length and bytes.
bool RelayInbound::ParseSocks5Login() {
  if (in_.size() < 2) return false;
  if (in_[0] != 0x01) {
    Refuse(InboundRefusal::kLoginRefused);
    return false;
  }
  size_t user_length = static_cast<uint8_t>(in_[1]);
  if (in_.size() < 3 + user_length) return false;
  size_t password_length = static_cast<uint8_t>(in_[2 + user_length]);
  size_t total = 3 + user_length + password_length;
  if (in_.size() < total) return false;
  std::string_view all = in_;
  bool ok = SameLogin(*options_.client_login, all.substr(2, user_length),
                      all.substr(3 + user_length, password_length));
  if (!ok) {
    Refuse(InboundRefusal::kLoginRefused);
    return false;
  }
  in_.erase(0, total);
  output_.append({0x01, 0x00});
  socks_login_ = false;
  socks_greeted_ = true;
  return true;
}

bool RelayInbound::ParseSocks5Request() {
  if (in_.empty()) return false;
  if (in_[0] != kSocks5) {
    Refuse(InboundRefusal::kGarbage);
    return false;
  }
  if (in_.size() < 2) return false;
  if (in_[1] != 0x01) {
    Refuse(InboundRefusal::kUnsupportedCommand);
    return false;
  }
  NetTarget target;
  size_t total = 0;
  switch (ReadSocks5Address(in_, &target, &total)) {
    case Socks5AddressRead::kNeedMore:
      return false;
    case Socks5AddressRead::kBadType:
      Refuse(InboundRefusal::kBadAddressType);
      return false;
    case Socks5AddressRead::kRead:
      break;
  }
  if (target.port == 0 || ClassifyHost(target.host) == HostKind::kInvalid) {
    Refuse(InboundRefusal::kBadTarget);
    return false;
  }
  AcceptTarget(InboundKind::kSocks5Connect, std::move(target), total);
  return true;
}

std::string RelayInbound::HeadWithTarget(std::string_view request_target,
                                         const ProxyCredentials* upstream) const {
  std::string head = method_ + " " + std::string(request_target) + " " + version_ + "\r\n";
  head += "Host: " + authority_ + "\r\n";
  for (const std::string& field : fields_) head += field + "\r\n";
  if (upstream) {
    head += "Proxy-Authorization: Basic " +
            Base64Encode(upstream->user + ":" + upstream->password) + "\r\n";
  }
  head += "Connection: close\r\n\r\n";
  return head;
}

std::string RelayInbound::OriginFormHead() const {
  if (state_ != InboundState::kReady || kind_ != InboundKind::kHttpRequest) return "";
  return HeadWithTarget(path_, nullptr);
}

std::string RelayInbound::AbsoluteFormHead(const ProxyCredentials* upstream) const {
  if (state_ != InboundState::kReady || kind_ != InboundKind::kHttpRequest) return "";
  return HeadWithTarget("http://" + authority_ + path_, upstream);
}

std::string RelayInbound::SuccessReply() const {
  if (state_ != InboundState::kReady) return "";
  switch (kind_) {
    case InboundKind::kHttpConnect:
      return "HTTP/1.1 200 Connection established\r\n\r\n";
    case InboundKind::kSocks5Connect:
      return Socks5ReplyBytes(kSucceeded);
    case InboundKind::kHttpRequest:
      return "";
  }
  return "";
}

std::string RelayInbound::FailureReply(ProxyFailure why) const {
  if (state_ != InboundState::kReady) return "";
  if (kind_ != InboundKind::kSocks5Connect) {
    bool timed_out = why == ProxyFailure::kTimeout || why == ProxyFailure::kTargetTimedOut;
    return HttpReply(timed_out ? "504 Gateway Timeout" : "502 Bad Gateway", ProxyFailureText(why));
  }
  switch (why) {
    case ProxyFailure::kNetworkUnreachable:
      return Socks5ReplyBytes(kNetworkUnreachable);
    case ProxyFailure::kHostUnreachable:
      return Socks5ReplyBytes(kHostUnreachable);
    case ProxyFailure::kTargetRefused:
      return Socks5ReplyBytes(kConnectionRefused);
    case ProxyFailure::kTargetTimedOut:
    case ProxyFailure::kTimeout:
      return Socks5ReplyBytes(kTtlExpired);
    case ProxyFailure::kAddressTypeNotSupported:
    case ProxyFailure::kSocks4NeedsIpv4:
      return Socks5ReplyBytes(kAddressTypeNotSupported);
    case ProxyFailure::kRefused:
      return Socks5ReplyBytes(kNotAllowed);
    default:
      return Socks5ReplyBytes(kGeneralFailure);
  }
}

}  // namespace core
