#include "core/verify/page_fetch.h"

#include <algorithm>

#include "core/base/text.h"
#include "core/net/http_connect_client.h"

namespace core {
namespace {

bool HasBreak(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0 ", 4)) != std::string_view::npos;
}

std::string ExtraFields() {
  return "User-Agent: " + std::string(kVerifyUserAgent) +
         "\r\nAccept: */*\r\nConnection: close\r\n";
}

}  // namespace

bool FetchTargetOfUrl(const SiteUrl& url, FetchTarget* out) {
  if (url.scheme != SiteScheme::kHttp && url.scheme != SiteScheme::kHttps) return false;
  if (ClassifyHost(url.host) == HostKind::kInvalid) return false;
  out->secure = url.scheme == SiteScheme::kHttps;
  out->site.host = url.host;
  if (out->site.host.size() > 2 && out->site.host.front() == '[' && out->site.host.back() == ']') {
    out->site.host = out->site.host.substr(1, out->site.host.size() - 2);
  }
  out->site.port = url.port ? url.port : (out->secure ? 443 : 80);
  out->path = url.path;
  out->ipv4 = ClassifyHost(out->site.host) == HostKind::kIpv4 ? out->site.host : "";
  return true;
}

std::string FetchRequestHead(const FetchTarget& target, const UpstreamProxy* http_proxy) {
  if (http_proxy && !target.secure) {
    return WriteProxiedRequestHead("GET", target.site, target.path, ExtraFields(),
                                   http_proxy->credentials ? &*http_proxy->credentials : nullptr);
  }
  std::string path = target.path.empty() ? "/" : target.path;
  if (path.front() != '/' || HasBreak(path)) return "";
  std::string host = HostPortText(target.site);
  if (target.site.port == (target.secure ? 443 : 80)) host = host.substr(0, host.rfind(':'));
  return "GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\n" + ExtraFields() + "\r\n";
}

PageFetch::PageFetch(const std::optional<UpstreamProxy>& via, const FetchTarget& target,
                     std::string_view verify_string, Mode mode, TlsFactory* tls,
                     FetchTimeouts timeouts, uint32_t now)
    : via_(via),
      target_(target),
      mode_(mode),
      tls_factory_(tls),
      timeouts_(timeouts),
      connect_to_(via ? via->proxy : target.site),
      started_ms_(now),
      last_activity_ms_(now),
      scanner_(verify_string) {}

void PageFetch::Finish(uint32_t now) {
  result_.complete = true;
  result_.found = mode_ == Mode::kScan && scanner_.found() && !(result_.status / 100 == 3);
  result_.seconds = ElapsedSeconds(started_ms_, now);
  stage_ = FetchStage::kDone;
  handshake_.reset();
  tls_.reset();
}

void PageFetch::Fail(FetchStage stage, std::string reason, uint32_t now) {
  if (done()) return;
  result_.complete = false;
  result_.failed_in = stage;
  result_.reason = std::move(reason);
  result_.seconds = ElapsedSeconds(started_ms_, now);
  if (handshake_) {
    result_.handshake_state = handshake_->state();
    result_.handshake_failure = handshake_->failure();
  }
  stage_ = FetchStage::kDone;
  handshake_.reset();
  tls_.reset();
  output_.clear();
}

void PageFetch::OnConnectFailed(std::string_view reason, uint32_t now) {
  if (stage_ == FetchStage::kConnect) Fail(FetchStage::kConnect, std::string(reason), now);
}

void PageFetch::OnConnected(uint32_t now) {
  if (stage_ != FetchStage::kConnect) return;
  last_activity_ms_ = now;
  bool tunnel = via_ && (via_->protocol != ProxyProtocol::kHttp || target_.secure);
  if (!tunnel) {
    BeginPage({}, now);
    return;
  }
  HandshakeRequest request;
  request.target = target_.site;
  if (via_->protocol == ProxyProtocol::kSocks4 && !target_.ipv4.empty()) {
    request.target.host = target_.ipv4;
  }
  request.credentials = via_->credentials;
  handshake_ = StartProxyHandshake(via_->protocol, request);
  result_.had_handshake = true;
  stage_ = FetchStage::kHandshake;
  if (handshake_->state() == HandshakeState::kFailed) {
    Fail(FetchStage::kHandshake, ProxyFailureEnglish(handshake_->failure()), now);
    return;
  }
  output_ += handshake_->TakeOutput();
}

void PageFetch::BeginPage(std::string payload, uint32_t now) {
  // Only an HTTP proxy reads the request itself; through a tunnel the site does.
  bool http_proxy = via_ && via_->protocol == ProxyProtocol::kHttp;
  std::string head = FetchRequestHead(target_, http_proxy ? &*via_ : nullptr);
  if (head.empty()) {
    Fail(FetchStage::kReply, "the page's path cannot be sent", now);
    return;
  }
  reader_.emplace([this](std::string_view piece) { return Sink(piece); });
  if (target_.secure) {
    tls_ = tls_factory_ ? tls_factory_->Start(target_.site.host) : nullptr;
    if (!tls_) {
      Fail(FetchStage::kTls, "TLS could not start", now);
      return;
    }
    stage_ = FetchStage::kTls;
    tls_->Send(head);
    output_ += tls_->TakeOutgoing();
  } else {
    stage_ = FetchStage::kReply;
    output_ += head;
  }
  if (!payload.empty()) OnReceived(payload, now);
}

std::string PageFetch::TakeOutput() {
  std::string out;
  out.swap(output_);
  return out;
}

bool PageFetch::Sink(std::string_view piece) {
  if (result_.status / 100 == 3) return true;  // a redirect's page counts for nothing
  if (mode_ == Mode::kKeep) {
    size_t room = keep_limit_ - result_.page.size();
    result_.page.append(piece.substr(0, room));
    return result_.page.size() < keep_limit_;
  }
  return scanner_.Feed(piece);
}

void PageFetch::OnReceived(std::string_view bytes, uint32_t now) {
  if (done() || bytes.empty()) return;
  last_activity_ms_ = now;
  if (stage_ == FetchStage::kHandshake) {
    HandshakeState state = handshake_->Feed(bytes);
    output_ += handshake_->TakeOutput();
    if (state == HandshakeState::kFailed) {
      Fail(FetchStage::kHandshake, ProxyFailureEnglish(handshake_->failure()), now);
      return;
    }
    if (state == HandshakeState::kTunnelUp) {
      result_.handshake_state = state;
      std::string payload = handshake_->TakePayload();
      handshake_.reset();
      BeginPage(std::move(payload), now);
    }
    return;
  }
  if (tls_) {
    plain_.clear();
    bool ok = tls_->Receive(bytes, &plain_);
    output_ += tls_->TakeOutgoing();
    if (!ok) {
      Fail(FetchStage::kTls, "TLS: " + tls_->error(), now);
      return;
    }
    if (plain_.empty()) return;
    stage_ = FetchStage::kReply;
    FeedPlain(plain_, now);
    return;
  }
  FeedPlain(bytes, now);
}

void PageFetch::FeedPlain(std::string_view bytes, uint32_t now) {
  reader_->Feed(bytes);
  if (reader_->status() >= 0) result_.status = reader_->status();
  CheckReader(now);
}

void PageFetch::CheckReader(uint32_t now) {
  switch (reader_->state()) {
    case ResponseState::kDone:
      Finish(now);
      return;
    case ResponseState::kFailed:
      Fail(FetchStage::kReply, ResponseFailureEnglish(reader_->failure()), now);
      return;
    default:
      return;
  }
}

void PageFetch::OnEnd(uint32_t now, std::string_view reason) {
  if (done()) return;
  switch (stage_) {
    case FetchStage::kConnect:
      Fail(FetchStage::kConnect, reason.empty() ? "connection closed" : std::string(reason), now);
      return;
    case FetchStage::kHandshake:
      handshake_->OnClosed();
      Fail(FetchStage::kHandshake,
           reason.empty() ? ProxyFailureEnglish(handshake_->failure()) : std::string(reason), now);
      return;
    default:
      break;
  }
  if (!reason.empty() || !reader_) {
    Fail(stage_, reason.empty() ? "connection closed" : std::string(reason), now);
    return;
  }
  reader_->OnEnd();
  if (reader_->state() == ResponseState::kFailed && stage_ == FetchStage::kTls) {
    Fail(FetchStage::kTls, "TLS: closed during the handshake", now);
    return;
  }
  CheckReader(now);
}

LaneAnswer PageFetch::answer() const {
  if (handshake_) return LaneAnswerOf(handshake_->state(), handshake_->failure());
  if (result_.had_handshake) {
    if (result_.handshake_state == HandshakeState::kTunnelUp) return LaneAnswer::kAnswered;
    return done() ? LaneAnswerOf(result_.handshake_state, result_.handshake_failure)
                  : LaneAnswer::kPending;
  }
  if (result_.status >= 0) return LaneAnswer::kAnswered;
  return done() ? LaneAnswer::kNoAnswer : LaneAnswer::kPending;
}

uint32_t PageFetch::deadline_ms() const {
  if (stage_ == FetchStage::kConnect) return started_ms_ + timeouts_.connect_ms;
  uint32_t idle = last_activity_ms_ + timeouts_.receive_ms;
  uint32_t whole = started_ms_ + timeouts_.whole_ms;
  // Both lie ahead of started_ms_; compare them as distances so that a wrap of the
  // tick counter changes nothing.
  return uint32_t(idle - started_ms_) < uint32_t(whole - started_ms_) ? idle : whole;
}

void PageFetch::OnTick(uint32_t now) {
  if (done()) return;
  if (int32_t(now - deadline_ms()) < 0) return;
  if (stage_ == FetchStage::kConnect) {
    Fail(FetchStage::kConnect, "connect timed out", now);
    return;
  }
  if (handshake_) handshake_->OnTimedOut();
  bool idle = int32_t(now - (last_activity_ms_ + timeouts_.receive_ms)) >= 0;
  Fail(stage_, idle ? "no answer in time" : "page not finished in time", now);
}

}  // namespace core
