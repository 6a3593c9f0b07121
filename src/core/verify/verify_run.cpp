#include "core/verify/verify_run.h"

#include <algorithm>

#include "core/base/text.h"
#include "core/net/type_detection.h"
#include "core/proxylist/proxy_line.h"

namespace core {

bool VerifyStringScanner::Feed(std::string_view piece) {
  if (read_ >= kMaxPageRead) return false;
  if (piece.size() > kMaxPageRead - read_) piece = piece.substr(0, kMaxPageRead - read_);
  read_ += piece.size();
  if (!found_) {
    // A match that straddles the previous pieces and this one lies within the
    // kept tail and this piece's first needle-1 bytes; any other lies in the piece.
    size_t keep = needle_.size() - 1;
    size_t head = std::min(piece.size(), keep);
    joint_.assign(tail_);
    joint_.append(piece.substr(0, head));
    found_ =
        joint_.find(needle_) != std::string::npos || piece.find(needle_) != std::string_view::npos;
    if (piece.size() >= keep) {
      tail_.assign(piece.substr(piece.size() - keep));
    } else {
      tail_.append(piece);
      if (tail_.size() > keep) tail_.erase(0, tail_.size() - keep);
    }
  }
  return read_ < kMaxPageRead;
}

bool IsLoginRefusal(ProxyFailure failure) {
  return failure == ProxyFailure::kAuthRefused || failure == ProxyFailure::kAuthRequired;
}

double ElapsedSeconds(uint32_t t0, uint32_t t1) { return double(uint32_t(t1 - t0)) * 0.001; }

bool VerifyRun::SetProxyLine(std::string_view line) {
  ProxyLine parsed;
  if (!ParseProxyLine(line, &parsed)) return false;
  return SetProxy(parsed.address, parsed.port, parsed.type);
}

bool VerifyRun::SetProxy(std::string_view address, std::string_view port, std::string_view type) {
  if (!AddressFitsProxyServerText(address)) return false;
  std::string_view port_text = Trim(port);
  if (port_text.empty() || LeadingDigits(port_text).size() != port_text.size()) return false;
  int64_t value = LeadingDigitsValue(port_text);
  if (value < 1 || value > 65535) return false;
  int kind = ProxyKindIndex(AsciiUpperCopy(type));
  if (kind < 0) return false;
  address_ = std::string(address);
  port_ = std::string(port_text);
  kind_ = kind;
  type_ = AsciiUpperCopy(Trim(type));
  proxy_set_ = true;
  return true;
}

bool VerifyRun::AddSite(std::string_view url, std::string_view verify_string) {
  if (site_count_ >= kMaxSites) return false;
  std::string upper = AsciiUpperCopy(url.substr(0, 8));
  if (upper.rfind("HTTP://", 0) != 0 && upper.rfind("HTTPS://", 0) != 0 &&
      upper.rfind("FTP://", 0) != 0) {
    return false;
  }
  SiteSlot& slot = sites_[size_t(site_count_)];
  slot.url = std::string(url);
  slot.verify_string = std::string(verify_string);
  slot.outcome = SiteOutcome{};
  ++site_count_;
  return true;
}

std::optional<UpstreamProxy> VerifyRun::OwnProtocolUpstream() const {
  std::optional<ProxyProtocol> protocol = ProtocolOfType(type_);
  UpstreamProxy upstream;
  if (!protocol || !ParseAuthority(address_ + ":" + port_, 0, &upstream.proxy)) return std::nullopt;
  upstream.protocol = *protocol;
  upstream.credentials = credentials_;
  if (upstream.protocol == ProxyProtocol::kHttp && !upstream.credentials) return std::nullopt;
  return upstream;
}

std::string VerifyRun::ProxyTextFor(SiteScheme scheme) const {
  bool http = scheme == SiteScheme::kHttp;
  bool https = scheme == SiteScheme::kHttps;
  bool ftp = scheme == SiteScheme::kFtp;
  bool any = http || https || ftp;
  switch (kind_) {
    case 1:
    case 2:
      // WinInet takes an https page through the "https=" entry's proxy only.
      if (https) return Format("https=%s:%s", address_.c_str(), port_.c_str());
      return http ? Format("http=%s:%s", address_.c_str(), port_.c_str()) : "";
    case 3:
    case 4:
    case 5:
    case 7:
      return any ? Format("socks=%s:%s", address_.c_str(), port_.c_str()) : "";
    case 6:
      return ftp ? Format("ftp=%s:%s", address_.c_str(), port_.c_str()) : "";
    default:
      return any ? Format("%s:%s", address_.c_str(), port_.c_str()) : "";
  }
}

std::vector<SiteOutcome> VerifyRun::Outcomes() const {
  std::vector<SiteOutcome> out;
  for (int i = 0; i < site_count_; ++i) out.push_back(sites_[size_t(i)].outcome);
  return out;
}

void VerifyRun::RunTests(SiteFetcher& fetcher, Clock& clock, RunObserver& observer) {
  for (SiteSlot& slot : sites_) slot.outcome = SiteOutcome{};
  detected_.reset();
  if (site_count_ <= 0 || !proxy_set_) return;
  if (detect_type_ && type_.empty() && !DetectType(fetcher, observer)) {
    observer.OnSiteDone(0, sites_[0].outcome);
    return;
  }
  for (int i = 0; i < site_count_; ++i) {
    bool go_on = TestSite(i, fetcher, clock, observer);
    observer.OnSiteDone(i, sites_[size_t(i)].outcome);
    if (!go_on) break;
  }
}

bool VerifyRun::DetectType(SiteFetcher& fetcher, RunObserver& observer) {
  SiteUrl url;
  UpstreamProxy upstream;
  if (!ParseSiteUrl(sites_[0].url, &url) || url.scheme == SiteScheme::kOther ||
      !ParseAuthority(address_ + ":" + port_, 0, &upstream.proxy)) {
    return true;
  }
  uint16_t port = url.port;
  if (port == 0) {
    port = url.scheme == SiteScheme::kHttps ? 443 : url.scheme == SiteScheme::kFtp ? 21 : 80;
  }
  upstream.credentials = credentials_;
  observer.OnProgress("识别代理类型");
  std::optional<DetectionOutcome> asked =
      fetcher.DetectProtocol(upstream, NetTarget{url.host, port});
  if (!asked) return true;
  const DetectionOutcome& found = *asked;
  SiteOutcome& first = sites_[0].outcome;
  if (!found.protocol) {
    // No port to connect to, or a port that said nothing in any protocol: the
    // sites would only wait for the same silence again.
    first.status = found.connected ? kSiteNoProtocol : kSiteUnreachable;
    observer.OnProgress(found.connected ? "协议不可用" : "无法连接proxy");
    return false;
  }
  detected_ = *found.protocol;
  type_ = std::string(TypeWordOf(*found.protocol));
  kind_ = ProxyKindIndex(type_);
  if (IsLoginRefusal(found.attempt.failure)) {
    first.status = kSiteWrongPassword;
    observer.OnProgress("密码不匹配");
    return false;
  }
  return true;
}

bool VerifyRun::TestSite(int index, SiteFetcher& fetcher, Clock& clock, RunObserver& observer) {
  SiteSlot& slot = sites_[size_t(index)];
  SiteUrl url;
  if (!ParseSiteUrl(slot.url, &url)) {
    slot.outcome.status = kSiteBadUrl;
    observer.OnProgress(Format("地址无效    (%s)", SiteUrlForDisplay(slot.url).c_str()));
    return true;
  }
  SiteRequest request;
  request.proxy = ProxyTextFor(url.scheme);
  if (request.proxy.empty()) {
    slot.outcome.status = kSiteKindMismatch;
    return true;
  }
  request.host = std::move(url.host);
  request.port = url.port;
  request.path = std::move(url.path);
  request.user = std::move(url.user);
  request.password = std::move(url.password);
  request.secure = url.scheme == SiteScheme::kHttps;
  if (url.scheme == SiteScheme::kHttp || url.scheme == SiteScheme::kHttps) {
    request.own_protocol = OwnProtocolUpstream();
    return TestHttp(index, request, fetcher, clock, observer);
  }
  return TestFtp(index, request, fetcher, clock);
}

bool VerifyRun::TestHttp(int index, const SiteRequest& request, SiteFetcher& fetcher, Clock& clock,
                         RunObserver& observer) {
  SiteSlot& slot = sites_[size_t(index)];
  std::unique_ptr<HttpRequest> http = fetcher.OpenHttp(request);
  if (!http) {
    slot.outcome.status = kSiteNotCreated;
    observer.OnProgress("异常错误");
    return true;
  }
  observer.OnProgress(
      Format("连接站点%d    (%s)", index + 1, SiteUrlForDisplay(slot.url).c_str()));
  VerifyStringScanner scanner(slot.verify_string);
  uint32_t t0 = clock.NowMs();
  TransferResult result =
      http->SendAndRead([&scanner](std::string_view piece) { return scanner.Feed(piece); });
  uint32_t t1 = clock.NowMs();
  std::optional<ProxyFailure> refused = http->proxy_failure();
  http.reset();
  // The fetcher spoke to the proxy itself and heard why it failed: a log-in
  // refused, or a reply that is not the row's protocol (a time-out says nothing
  // of the protocol). Either holds for every site.
  if (refused && IsLoginRefusal(*refused)) {
    slot.outcome.status = kSiteWrongPassword;
    observer.OnProgress("密码不匹配");
    return false;
  }
  if (refused && (*refused == ProxyFailure::kNotHttpProxy || *refused == ProxyFailure::kNotSocks4 ||
                  *refused == ProxyFailure::kNotSocks5 || *refused == ProxyFailure::kBadReply)) {
    slot.outcome.status = kSiteNoProtocol;
    observer.OnProgress("协议不可用");
    return false;
  }
  if (result != TransferResult::kComplete) {
    slot.outcome.status = kSiteUnreachable;
    observer.OnProgress("无法连接proxy");
    return false;
  }
  slot.outcome.seconds = ElapsedSeconds(t0, t1);
  if (scanner.found()) {
    observer.OnProgress(Format("可用(%.1f)", slot.outcome.seconds));
    slot.outcome.status = kSiteUsable;
  } else {
    observer.OnProgress(Format("不匹配(%.1f)", slot.outcome.seconds));
    slot.outcome.status = kSiteNoMatch;
  }
  return true;
}

bool VerifyRun::TestFtp(int index, const SiteRequest& request, SiteFetcher& fetcher, Clock& clock) {
  SiteSlot& slot = sites_[size_t(index)];
  std::unique_ptr<FtpSession> session = fetcher.OpenFtp(request.proxy);
  if (!session) {
    slot.outcome.status = kSiteNotCreated;
    return true;
  }
  uint32_t t0 = clock.NowMs();
  FtpLoginResult result = session->Login(request);
  uint32_t t1 = clock.NowMs();
  switch (result) {
    case FtpLoginResult::kLoggedIn:
      slot.outcome.seconds = ElapsedSeconds(t0, t1);
      slot.outcome.status = kSiteUsable;
      return true;
    case FtpLoginResult::kNoConnection:
      slot.outcome.status = kSiteNotCreated;
      return true;
    case FtpLoginResult::kWrongPassword:
      slot.outcome.status = kSiteWrongPassword;
      return true;
    default:
      slot.outcome.status = kSiteUnreachable;
      return false;
  }
}

}  // namespace core
