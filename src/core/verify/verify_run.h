// One proxy's test run: the proxy, up to five destination sites, and RunTests,
// which tests every site through the proxy over a SiteFetcher and records one
// SiteStatus and one time per site. The scheduler configures a VerifyRun on the
// UI thread and hands it to a worker thread, which alone touches it while it runs.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/verify/site_fetcher.h"
#include "core/verify/site_url.h"

namespace core {

// Outcome of one site test.
enum SiteStatus : int {
  kSiteNotTested = 0,
  kSiteNotCreated = 1,    // session, connection or request not created
  kSiteKindMismatch = 2,  // the proxy's kind cannot serve the site's protocol
  kSiteBadUrl = 3,
  kSiteUnreachable = 4,    // the proxy was unreachable or the transfer failed
  kSiteNoProtocol = 5,     // not produced by a run; has a text of its own
  kSiteNotFetched = 6,     // not produced by a run; has a text of its own
  kSiteWrongPassword = 7,  // the FTP site refused the login
  kSiteNoMatch = 8,        // page fetched without the verify string
  kSiteUsable = 9,         // page fetched with the verify string, or FTP login done
};

inline constexpr int kMaxSites = 5;
inline constexpr double kUntimedSeconds = 50.0;
// A hostile proxy can send an endless page: reading stops after kMaxPageRead
// bytes, and the page is judged on what was read.
inline constexpr size_t kMaxPageRead = size_t{8} << 20;

struct SiteOutcome {
  int status = kSiteNotTested;
  double seconds = kUntimedSeconds;  // valid for kSiteUsable
};

struct SiteSlot {
  std::string url;
  std::string verify_string;
  SiteOutcome outcome;
};

// Receives a run's notifications on the worker's thread.
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  // The progress texts ("连接站点1    (url)", "可用(1.2)", …).
  virtual void OnProgress(std::string_view text) = 0;
  // Site `index` has its final outcome for this run.
  virtual void OnSiteDone(int index, const SiteOutcome& outcome) = 0;
};

// Finds the verify string in a page as it streams in, also when it straddles
// pieces, without keeping the page: only the last needle-1 bytes are held.
class VerifyStringScanner {
 public:
  // `needle` must outlive the scanner. An empty needle is found at once.
  explicit VerifyStringScanner(std::string_view needle) : needle_(needle), found_(needle.empty()) {}
  // Returns false once kMaxPageRead bytes have been read: reading is to stop.
  bool Feed(std::string_view piece);
  bool found() const { return found_; }
  // Bytes of the page the scanner holds between pieces.
  size_t held_bytes() const { return tail_.capacity() + joint_.capacity(); }

 private:
  std::string_view needle_;
  std::string tail_;   // the last needle-1 bytes read
  std::string joint_;  // tail_ + the next piece's head, searched for a straddling match
  size_t read_ = 0;
  bool found_;
};

class VerifyRun {
 public:
  // Parses a proxy text line and hands its address, port and type to SetProxy
  // (the remark is dropped). False when the parser or SetProxy refuses it.
  bool SetProxyLine(std::string_view line);
  // Port: trimmed, digits only, 1..65535. Type: upper-cased, one of the kind
  // table's names ("" HTTP HTTPS SOCKS SOCKS4 SOCKS5 FTP SOCKS4A). Address: not empty and
  // free of blanks, ";" and "=", which would split the session's proxy list. A
  // refused call changes nothing.
  bool SetProxy(std::string_view address, std::string_view port, std::string_view type);
  bool proxy_set() const { return proxy_set_; }
  // The proxy's user name and password, when it wants them: its pages then go
  // through the relay (OwnProtocolUpstream), which logs in for them.
  void SetCredentials(std::optional<ProxyCredentials> credentials) {
    credentials_ = std::move(credentials);
  }
  int proxy_kind() const { return kind_; }

  void ClearSites() { site_count_ = 0; }
  // Refused when five sites are held already, or when the URL, upper-cased, does
  // not begin with "HTTP://", "HTTPS://" or "FTP://" (leading blanks are refused).
  bool AddSite(std::string_view url, std::string_view verify_string);
  int site_count() const { return site_count_; }
  const SiteSlot& site(int index) const { return sites_[size_t(index)]; }

  // The session's proxy list for a site scheme, or "" when the proxy's kind
  // cannot serve it (HTTP proxies serve http and https sites, https through a
  // tunnel; FTP proxies ftp sites; SOCKS and untyped proxies all of them).
  std::string ProxyTextFor(SiteScheme scheme) const;
  // The proxy when it speaks a protocol WinInet cannot, or not truly
  // (SiteRequest::own_protocol): every SOCKS row. WinInet has no SOCKS5, and
  // under Wine it ignores a "socks=" entry and fetches the page directly.
  std::optional<UpstreamProxy> OwnProtocolUpstream() const;

  // With this on, a proxy without a type has its protocol detected at the start
  // of RunTests (SiteFetcher::DetectProtocol: every protocol at once, toward the
  // first site's host and port), and the protocol it answers in becomes its type
  // for the run. A proxy whose port takes no connection, or that answers in no
  // protocol, ends the run at once (the first site unreachable, or "no
  // protocol"); one that refuses its log-in ends it as a wrong password.
  void set_detect_type(bool on) { detect_type_ = on; }
  bool detect_type() const { return detect_type_; }
  // The protocol found by the last RunTests; none when nothing was detected.
  std::optional<ProxyProtocol> detected_protocol() const { return detected_; }

  // Tests every site in order. Every slot starts at kSiteNotTested and 50.0 s;
  // without sites or without a proxy nothing is tested. An unreachable proxy ends
  // the run early: later sites stay kSiteNotTested.
  void RunTests(SiteFetcher& fetcher, Clock& clock, RunObserver& observer);

  // The sites' outcomes, one per site.
  std::vector<SiteOutcome> Outcomes() const;

 private:
  // Returns false when the run is to end (the proxy is unreachable).
  bool TestSite(int index, SiteFetcher& fetcher, Clock& clock, RunObserver& observer);
  bool TestHttp(int index, const SiteRequest& request, SiteFetcher& fetcher, Clock& clock,
                RunObserver& observer);
  bool TestFtp(int index, const SiteRequest& request, SiteFetcher& fetcher, Clock& clock);
  // False when the run is to end (the first site's outcome then says why).
  bool DetectType(SiteFetcher& fetcher, RunObserver& observer);

  std::array<SiteSlot, kMaxSites> sites_{};
  int site_count_ = 0;
  bool proxy_set_ = false;
  std::string address_;
  std::string port_;
  int kind_ = 0;
  std::optional<ProxyCredentials> credentials_;
  std::string type_;  // the row's type word, upper case
  bool detect_type_ = false;
  std::optional<ProxyProtocol> detected_;
};

// A proxy that wants a user name and password it was not given, or refused the
// ones it was given: the site's outcome is a wrong password.
bool IsLoginRefusal(ProxyFailure failure);

// Seconds between two 32-bit tick counts; correct across one wrap of the counter.
double ElapsedSeconds(uint32_t t0, uint32_t t1);

}  // namespace core
