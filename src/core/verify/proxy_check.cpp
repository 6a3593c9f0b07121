#include "core/verify/proxy_check.h"

namespace core {

ProxyCheck::ProxyCheck(const CheckPlan& plan, const UpstreamProxy& proxy, bool detect, uint32_t now)
    : plan_(plan), proxy_(proxy) {
  report_.outcomes.resize(plan.sites.size());
  report_.reasons.resize(plan.sites.size());
  report_.protocol = proxy.protocol;
  if (plan.sites.empty()) return;
  if (!detect) {
    StartSite(now);
    return;
  }
  report_.protocol_known = false;
  race_.emplace();
  const CheckSite& site = plan_.sites[0];
  for (size_t i = 0; i < kDetectionLanes; ++i) {
    proxy_.protocol = kDetectionOrder[i];
    lanes_[i] = MakeFetch(site.target, site.verify_string, PageFetch::Mode::kScan, now);
  }
}

bool ProxyCheck::done() const {
  for (const auto& f : lanes_) {
    if (f) return false;
  }
  return true;
}

std::unique_ptr<PageFetch> ProxyCheck::MakeFetch(const FetchTarget& target, std::string_view verify,
                                                 PageFetch::Mode mode, uint32_t now) const {
  return std::make_unique<PageFetch>(proxy_, target, verify, mode, plan_.tls, plan_.timeouts, now);
}

void ProxyCheck::StartSite(uint32_t now) {
  const CheckSite& site = plan_.sites[site_];
  lanes_[lane_] = MakeFetch(site.target, site.verify_string, PageFetch::Mode::kScan, now);
}

bool ProxyCheck::RaceDecided() {
  for (size_t i = 0; i < kDetectionLanes; ++i) {
    if (lanes_[i]) race_->Set(i, lanes_[i]->answer());
  }
  if (!race_->decided()) return false;
  std::optional<size_t> winner = race_->winner();
  lane_ = winner.value_or(0);
  for (size_t i = 0; i < kDetectionLanes; ++i) {
    if (i != lane_) lanes_[i].reset();
  }
  race_.reset();
  proxy_.protocol = kDetectionOrder[lane_];
  if (winner) {
    report_.protocol = proxy_.protocol;
    report_.protocol_known = true;
  } else if (lanes_[lane_]->result().failed_in != FetchStage::kConnect) {
    // Connected, but nothing it said was HTTP, SOCKS5 or SOCKS4.
    report_.outcomes[0].status = kSiteUnreachable;
    report_.reasons[0] = "no answer as an HTTP, SOCKS5 or SOCKS4 proxy";
    lanes_[lane_].reset();
  }
  return true;
}

void ProxyCheck::Advance(uint32_t now) {
  if (race_ && !RaceDecided()) return;
  std::unique_ptr<PageFetch>& fetch = lanes_[lane_];
  if (!fetch || !fetch->done()) return;
  switch (step_) {
    case Step::kSite:
      if (SiteEnded(now)) return;
      StartExtras(now);
      return;
    case Step::kJudge: {
      const FetchResult& r = fetch->result();
      if (r.complete) {
        report_.grade = GradeJudgePage(r.page, plan_.own_addresses);
      } else {
        report_.grade_reason = r.reason;
      }
      if (plan_.echo) {
        step_ = Step::kEcho;
        fetch = MakeFetch(*plan_.echo, "", PageFetch::Mode::kKeep, now);
        return;
      }
      fetch.reset();
      return;
    }
    case Step::kEcho: {
      const FetchResult& r = fetch->result();
      std::vector<std::string> found =
          r.complete ? AddressesIn(r.page) : std::vector<std::string>{};
      if (!found.empty()) {
        report_.exit_address = found.front();
      } else {
        report_.exit_reason = r.complete ? "no address in the echo page" : r.reason;
      }
      fetch.reset();
      return;
    }
  }
}

bool ProxyCheck::SiteEnded(uint32_t now) {
  std::unique_ptr<PageFetch>& fetch = lanes_[lane_];
  const FetchResult& r = fetch->result();
  SiteOutcome& outcome = report_.outcomes[site_];
  if (!r.complete) {
    outcome.status = kSiteUnreachable;
    report_.reasons[site_] = r.reason;
    // An unreachable proxy ends the run: later sites stay untested.
    fetch.reset();
    return true;
  }
  outcome.seconds = r.seconds;
  outcome.status = r.found ? kSiteUsable : kSiteNoMatch;
  if (!r.found) {
    report_.reasons[site_] = r.status / 100 == 3 ? "redirected" : "verify string not found";
  }
  if (++site_ < plan_.sites.size()) {
    StartSite(now);
    return true;
  }
  return false;
}

void ProxyCheck::StartExtras(uint32_t now) {
  bool usable = false;
  for (const SiteOutcome& o : report_.outcomes) usable = usable || o.status == kSiteUsable;
  std::unique_ptr<PageFetch>& fetch = lanes_[lane_];
  fetch.reset();
  if (!usable) return;
  if (plan_.judge) {
    // Through a tunnel the proxy sees nothing of the request's fields.
    if (plan_.judge->secure || proxy_.protocol != ProxyProtocol::kHttp) {
      report_.grade = AnonymityGrade::kTunnelled;
    } else {
      step_ = Step::kJudge;
      fetch = MakeFetch(*plan_.judge, "", PageFetch::Mode::kKeep, now);
      return;
    }
  }
  if (plan_.echo) {
    step_ = Step::kEcho;
    fetch = MakeFetch(*plan_.echo, "", PageFetch::Mode::kKeep, now);
  }
}

}  // namespace core
