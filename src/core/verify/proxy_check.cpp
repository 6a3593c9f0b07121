#include "core/verify/proxy_check.h"

namespace core {

ProxyCheck::ProxyCheck(const CheckPlan& plan, const UpstreamProxy& proxy, bool detect, uint32_t now)
    : plan_(plan), proxy_(proxy) {
  report_.outcomes.resize(plan.sites.size());
  report_.reasons.resize(plan.sites.size());
  report_.protocol = proxy.protocol;
  if (detect) {
    detection_.emplace();
    proxy_.protocol = *detection_->current();
    report_.protocol_known = false;
  }
  if (!plan.sites.empty()) StartSite(now);
}

void ProxyCheck::StartSite(uint32_t now) {
  const CheckSite& site = plan_.sites[site_];
  fetch_ = std::make_unique<PageFetch>(proxy_, site.target, site.verify_string,
                                       PageFetch::Mode::kScan, plan_.tls, plan_.timeouts, now);
}

void ProxyCheck::Advance(uint32_t now) {
  if (!fetch_ || !fetch_->done()) return;
  switch (step_) {
    case Step::kSite:
      if (SiteEnded(now)) return;
      StartExtras(now);
      return;
    case Step::kJudge: {
      const FetchResult& r = fetch_->result();
      if (r.complete) {
        report_.grade = GradeJudgePage(r.page, plan_.own_addresses);
      } else {
        report_.grade_reason = r.reason;
      }
      if (plan_.echo) {
        step_ = Step::kEcho;
        fetch_ = std::make_unique<PageFetch>(proxy_, *plan_.echo, "", PageFetch::Mode::kKeep,
                                             plan_.tls, plan_.timeouts, now);
        return;
      }
      fetch_.reset();
      return;
    }
    case Step::kEcho: {
      const FetchResult& r = fetch_->result();
      std::vector<std::string> found =
          r.complete ? AddressesIn(r.page) : std::vector<std::string>{};
      if (!found.empty()) {
        report_.exit_address = found.front();
      } else {
        report_.exit_reason = r.complete ? "no address in the echo page" : r.reason;
      }
      fetch_.reset();
      return;
    }
  }
}

bool ProxyCheck::SiteEnded(uint32_t now) {
  const FetchResult& r = fetch_->result();
  if (detection_ && !detection_->answered()) {
    bool answered;
    if (r.had_handshake) {
      answered = detection_->OnAttemptEnded(r.handshake_state, r.handshake_failure);
    } else {
      // Plain http through an HTTP proxy has no handshake: an HTTP reply answers.
      answered = r.status >= 0;
      if (!answered) detection_->OnAttemptEnded(HandshakeState::kFailed, ProxyFailure::kBadReply);
    }
    if (answered) {
      report_.protocol = proxy_.protocol;
      report_.protocol_known = true;
    } else if (r.failed_in != FetchStage::kConnect && detection_->current()) {
      proxy_.protocol = *detection_->current();
      StartSite(now);
      return true;
    }
  }
  SiteOutcome& outcome = report_.outcomes[site_];
  if (!r.complete) {
    outcome.status = kSiteUnreachable;
    report_.reasons[site_] = r.reason;
    // An unreachable proxy ends the run: later sites stay untested.
    fetch_.reset();
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
  fetch_.reset();
  if (!usable) return;
  if (plan_.judge) {
    // Through a tunnel the proxy sees nothing of the request's fields.
    if (plan_.judge->secure || proxy_.protocol != ProxyProtocol::kHttp) {
      report_.grade = AnonymityGrade::kTunnelled;
    } else {
      step_ = Step::kJudge;
      fetch_ = std::make_unique<PageFetch>(proxy_, *plan_.judge, "", PageFetch::Mode::kKeep,
                                           plan_.tls, plan_.timeouts, now);
      return;
    }
  }
  if (plan_.echo) {
    step_ = Step::kEcho;
    fetch_ = std::make_unique<PageFetch>(proxy_, *plan_.echo, "", PageFetch::Mode::kKeep, plan_.tls,
                                         plan_.timeouts, now);
  }
}

}  // namespace core
