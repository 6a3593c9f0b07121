// One proxy's check as the command-line checker runs it: each site in turn over a
// PageFetch of its own, the run ending early when the proxy cannot be reached (the
// rule of VerifyRun); then, for a proxy that served a site, the judge page and the
// address-echo page when asked for. A row without a type may be detected: its first
// site is fetched as SOCKS5, SOCKS4, then HTTP (kDetectionOrder), a new connection
// each, until the proxy answers in the protocol tried. One thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/net/type_detection.h"
#include "core/verify/judge_page.h"
#include "core/verify/page_fetch.h"

namespace core {

struct CheckSite {
  std::string url;
  FetchTarget target;
  std::string verify_string;
};

// What every proxy of a run is checked against. Outlives the checks.
struct CheckPlan {
  std::vector<CheckSite> sites;
  std::optional<FetchTarget> judge;
  std::vector<std::string> own_addresses;  // the machine's addresses, for the judge
  std::optional<FetchTarget> echo;         // the address-echo page (exit address)
  FetchTimeouts timeouts;
  TlsFactory* tls = nullptr;
};

struct CheckReport {
  std::vector<SiteOutcome> outcomes;  // one per site, the scores' input
  std::vector<std::string> reasons;   // one per site: why it failed, English; "" else
  ProxyProtocol protocol = ProxyProtocol::kHttp;
  bool protocol_known = true;  // false: detection found no protocol that answered
  AnonymityGrade grade = AnonymityGrade::kUnknown;
  std::string grade_reason;  // why there is no grade when a judge was asked
  std::string exit_address;
  std::string exit_reason;  // why there is no exit address when it was asked
};

class ProxyCheck {
 public:
  // `detect`: the proxy's protocol is unknown and is to be found out (its
  // `protocol` is then ignored). `plan` must outlive the check.
  ProxyCheck(const CheckPlan& plan, const UpstreamProxy& proxy, bool detect, uint32_t now);

  // The fetch under way; null once the check is done. When a fetch is done the
  // driver calls Advance, which starts the next one (on a new connection) or ends
  // the check.
  PageFetch* fetch() { return fetch_.get(); }
  void Advance(uint32_t now);
  bool done() const { return !fetch_; }
  const CheckReport& report() const { return report_; }

 private:
  enum class Step { kSite, kJudge, kEcho };
  void StartSite(uint32_t now);
  void StartExtras(uint32_t now);
  bool SiteEnded(uint32_t now);  // false when the sites are over

  const CheckPlan& plan_;
  UpstreamProxy proxy_;
  std::optional<TypeDetection> detection_;
  std::unique_ptr<PageFetch> fetch_;
  Step step_ = Step::kSite;
  size_t site_ = 0;
  CheckReport report_;
};

}  // namespace core
