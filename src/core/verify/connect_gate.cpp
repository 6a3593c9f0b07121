#include "core/verify/connect_gate.h"

#include <algorithm>
#include <utility>

#include "core/base/text.h"

namespace core {
namespace {

GateSettings Clamped(GateSettings s) {
  // A time-out of 0 would fail every proxy; a bound of 0 would never probe at all
  // and the run would never end.
  s.connect_timeout_ms = std::clamp<uint32_t>(s.connect_timeout_ms, 1, kMaxConnectTimeoutMs);
  s.max_in_flight = std::clamp(s.max_in_flight, kMinConnectsInFlight, kMaxConnectsInFlight);
  return s;
}

bool ProbeHostUsable(std::string_view host) {
  if (host.empty() || host.size() > kMaxProbeHostLength) return false;
  for (char c : host) {
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) return false;
  }
  return true;
}

}  // namespace

std::optional<uint16_t> ProbePort(std::string_view port) {
  std::string_view text = Trim(port);
  if (text.empty() || LeadingDigits(text).size() != text.size()) return std::nullopt;
  int64_t value = LeadingDigitsValue(text);
  if (value < 1 || value > 65535) return std::nullopt;
  return uint16_t(value);
}

std::vector<SiteOutcome> UnreachableOutcomes(int sites) {
  std::vector<SiteOutcome> outcomes(size_t(std::max(sites, 0)));
  if (!outcomes.empty()) outcomes[0].status = kSiteUnreachable;
  return outcomes;
}

ConnectGate::ConnectGate(ConnectProber& prober, Clock& clock, ConnectGateListener& listener,
                         GateSettings settings)
    : prober_(prober),
      clock_(clock),
      listener_(listener),
      next_settings_(Clamped(settings)),
      settings_(next_settings_) {}

ConnectGate::~ConnectGate() {
  if (!in_flight_.empty()) prober_.CancelAll();
}

void ConnectGate::SetSettings(GateSettings settings) { next_settings_ = Clamped(settings); }

void ConnectGate::Clear() {
  if (!in_flight_.empty()) prober_.CancelAll();
  pending_.clear();
  in_flight_.clear();
  ready_.clear();
  unreachable_.clear();
  ready_news_ = false;
}

void ConnectGate::Begin(std::vector<GateRow> rows) {
  Clear();
  settings_ = next_settings_;
  pending_.assign(std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
}

void ConnectGate::Append(std::vector<GateRow> rows) {
  for (GateRow& row : rows) pending_.push_back(std::move(row));
}

void ConnectGate::Stop() { Clear(); }

bool ConnectGate::idle() const {
  return pending_.empty() && in_flight_.empty() && ready_.empty() && unreachable_.empty();
}

void ConnectGate::Pump() {
  // A prober that learns the outcome at once reports from inside Start, which
  // pumps again; the outer loop carries on instead, so a list of proxies that all
  // connect at once does not recurse once per row.
  if (pumping_) return;
  pumping_ = true;
  while (!pending_.empty() && in_flight_.size() < size_t(settings_.max_in_flight)) {
    GateRow row = std::move(pending_.front());
    pending_.pop_front();
    std::optional<uint16_t> port = ProbePort(row.port);
    if (!port || !ProbeHostUsable(row.host)) {
      Fail(std::move(row), ConnectFailure::kUnusableAddress);
      continue;
    }
    uint64_t id = next_id_++;
    // The prober gets its own copy: a report from inside Start removes the probe,
    // and the row's text with it.
    std::string host = row.host;
    in_flight_.emplace(id, Probe{std::move(row), clock_.NowMs()});
    ProbeStart started = prober_.Start(id, host, *port);
    if (started == ProbeStart::kStarted) continue;
    auto it = in_flight_.find(id);
    if (it == in_flight_.end()) continue;  // reported already, from inside Start
    GateRow back = std::move(it->second.row);
    in_flight_.erase(it);
    if (started == ProbeStart::kBusy && !in_flight_.empty()) {
      // Out of sockets for now: the row keeps its turn until a probe ends. With
      // nothing in flight no probe would end to retry it, so it fails instead.
      pending_.push_front(std::move(back));
      break;
    }
    Fail(std::move(back), ConnectFailure::kNotStarted);
  }
  pumping_ = false;
  Deliver();
}

std::optional<GateRow> ConnectGate::TakeReady() {
  if (ready_.empty()) return std::nullopt;
  GateRow row = std::move(ready_.front());
  ready_.pop_front();
  return row;
}

void ConnectGate::OnConnected(uint64_t id) {
  auto it = in_flight_.find(id);
  if (it == in_flight_.end()) return;
  ready_.push_back(std::move(it->second.row));
  ready_news_ = true;
  in_flight_.erase(it);
  Pump();
}

void ConnectGate::OnRefused(uint64_t id) {
  auto it = in_flight_.find(id);
  if (it == in_flight_.end()) return;
  Fail(std::move(it->second.row), ConnectFailure::kRefused);
  in_flight_.erase(it);
  Pump();
}

void ConnectGate::OnTick() {
  uint32_t now = clock_.NowMs();
  while (!in_flight_.empty()) {
    auto it = in_flight_.begin();
    // Unsigned differences, so that a wrap of the tick count between the start
    // and now still gives the true age.
    if (uint32_t(now - it->second.started_ms) < settings_.connect_timeout_ms) break;
    uint64_t id = it->first;
    GateRow row = std::move(it->second.row);
    in_flight_.erase(it);
    prober_.Cancel(id);
    Fail(std::move(row), ConnectFailure::kTimedOut);
  }
  Pump();
}

std::optional<uint32_t> ConnectGate::MsUntilDeadline() {
  if (in_flight_.empty()) return std::nullopt;
  uint32_t age = clock_.NowMs() - in_flight_.begin()->second.started_ms;
  return age >= settings_.connect_timeout_ms ? 0 : settings_.connect_timeout_ms - age;
}

void ConnectGate::OnRowsRemoved(std::vector<size_t> removed) {
  std::sort(removed.begin(), removed.end());
  removed.erase(std::unique(removed.begin(), removed.end()), removed.end());
  // Renumbers `row` as the list did; false when the row itself was removed.
  auto renumber = [&removed](GateRow& row) {
    auto below = std::lower_bound(removed.begin(), removed.end(), row.row);
    if (below != removed.end() && *below == row.row) return false;
    row.row -= size_t(below - removed.begin());
    return true;
  };
  auto keep = [&](std::deque<GateRow>& rows) {
    std::erase_if(rows, [&](GateRow& row) { return !renumber(row); });
  };
  keep(pending_);
  keep(ready_);
  std::erase_if(unreachable_, [&](Failed& f) { return !renumber(f.row); });
  std::vector<uint64_t> gone;
  for (auto it = in_flight_.begin(); it != in_flight_.end();) {
    if (renumber(it->second.row)) {
      ++it;
    } else {
      gone.push_back(it->first);
      it = in_flight_.erase(it);
    }
  }
  for (uint64_t id : gone) prober_.Cancel(id);
  if (!gone.empty()) Pump();
}

void ConnectGate::Fail(GateRow row, ConnectFailure failure) {
  unreachable_.push_back({std::move(row), failure});
}

void ConnectGate::Deliver() {
  // The listener may call back into the gate. Only the outermost call reports,
  // one decision at a time from the gate's queues, so a Stop() or Begin() from
  // inside a report empties them and nothing of the old run follows it.
  if (delivering_ || pumping_) return;
  delivering_ = true;
  for (;;) {
    if (!unreachable_.empty()) {
      Failed f = std::move(unreachable_.front());
      unreachable_.pop_front();
      listener_.OnRowUnreachable(f.row, f.failure);
    } else if (ready_news_) {
      ready_news_ = false;
      if (!ready_.empty()) listener_.OnRowsReady();
    } else {
      break;
    }
  }
  delivering_ = false;
}

}  // namespace core
