// One proxy's check as the command-line checker runs it: each site in turn over a
// PageFetch of its own, the run ending early when the proxy cannot be reached (the
// rule of VerifyRun); then, for a proxy that served a site, the judge page and the
// address-echo page when asked for. A row without a type may be detected: its first
// site is fetched in every protocol of kDetectionOrder at once, one connection
// each (a lane); the answers decide (DetectionRace), the other lanes are dropped
// at once, and the page goes on over the connection that answered. One thread at
// a time.
#pragma once

#include <array>
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

  // The fetch under way on `lane` (below kDetectionLanes), each on a connection of
  // its own; null for a lane not in use. Only a detection uses more than one lane.
  // The driver calls Advance after anything happened to a fetch: a dropped lane's
  // fetch turns null (its connection is to be closed), and a done fetch may be
  // followed by the next one in the same lane (on a new connection). A fetch that
  // is not done is never replaced, only dropped.
  PageFetch* fetch(size_t lane) { return lanes_[lane].get(); }
  PageFetch* fetch() { return lanes_[lane_].get(); }
  void Advance(uint32_t now);
  bool done() const;
  const CheckReport& report() const { return report_; }

 private:
  enum class Step { kSite, kJudge, kEcho };
  void StartSite(uint32_t now);
  void StartExtras(uint32_t now);
  bool SiteEnded(uint32_t now);  // false when the sites are over
  // Detection: reads the lanes' answers; true once the race is decided (the
  // winner's lane, or the HTTP lane when none answered, is then the one in use).
  bool RaceDecided();
  std::unique_ptr<PageFetch> MakeFetch(const FetchTarget& target, std::string_view verify,
                                       PageFetch::Mode mode, uint32_t now) const;

  const CheckPlan& plan_;
  UpstreamProxy proxy_;
  std::optional<DetectionRace> race_;  // while the first site's lanes race
  std::array<std::unique_ptr<PageFetch>, kDetectionLanes> lanes_;
  size_t lane_ = 0;  // the lane in use outside a race
  Step step_ = Step::kSite;
  size_t site_ = 0;
  CheckReport report_;
};

}  // namespace core
