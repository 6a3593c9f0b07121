#include "core/sysproxy/exit_check.h"

#include <algorithm>
#include <utility>

#include "core/base/settings_table.h"
#include "core/base/text.h"
#include "core/sysproxy/auto_switch.h"

namespace core {
namespace {

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// One part of a dotted quad at `text[i]`: 1..3 digits, 0..255, no leading
// zero. Returns the number of digits taken, 0 when there is no valid part.
size_t QuadPart(std::string_view text, size_t i) {
  size_t n = 0;
  int value = 0;
  while (i + n < text.size() && IsDigit(text[i + n])) {
    if (n == 3) return 0;  // four digits or more
    value = value * 10 + (text[i + n] - '0');
    ++n;
  }
  if (n == 0 || value > 255 || (n > 1 && text[i] == '0')) return 0;
  return n;
}

// A quad written after "xxxx:" with a second colon in the same run of hex
// digits and colons ("::ffff:1.2.3.4", "64:ff9b::1.2.3.4") is the tail of an
// IPv6 address, which the check does not use. "IP:1.2.3.4" is not.
bool EndsIpv6Prefix(std::string_view text, size_t start) {
  if (start == 0 || text[start - 1] != ':') return false;
  int colons = 0;
  for (size_t i = start; i > 0; --i) {
    char c = text[i - 1];
    if (c == ':') {
      if (++colons >= 2) return true;
    } else if (!IsHexDigit(c)) {
      break;
    }
  }
  return false;
}

constexpr std::string_view kArrow = " → ";

// In the order they are written. A deadline of 0 or less reads as the default.
constexpr SettingField<ExitCheckSettings> kExitCheckFields[] = {
    {kExitCheckPageKey, &ExitCheckSettings::page, kDefaultExitCheckPage, ExitCheckPageError},
    {kExitCheckDeadlineKey, &ExitCheckSettings::deadline_seconds, kDefaultExitCheckDeadlineSeconds,
     1, kMaxExitCheckDeadlineSeconds,
     /*low_default=*/true, /*write_clamped=*/true},
    {kExitCheckFailoverKey, &ExitCheckSettings::failover, false},
    {kExitCheckEnabledKey, &ExitCheckSettings::enabled, true},
    {kExitCheckFallbackKey, &ExitCheckSettings::fallback_pages, ExitCheckPageError},
};

}  // namespace

std::string ExitCheckPageError(std::string_view page) {
  std::string_view rest;
  std::string upper = AsciiUpperCopy(page.substr(0, 8));
  if (upper.rfind("HTTP://", 0) == 0) {
    rest = page.substr(7);
  } else if (upper.rfind("HTTPS://", 0) == 0) {
    rest = page.substr(8);
  } else {
    return std::string(kExitCheckPageMessage);
  }
  // The URL goes to WinInet as it stands: a blank or a control character would
  // end up in the request line.
  for (char c : page) {
    if (static_cast<unsigned char>(c) <= ' ' || c == 0x7F)
      return std::string(kExitCheckPageMessage);
  }
  if (rest.empty() || rest[0] == '/' || rest[0] == ':' || rest[0] == '?') {
    return std::string(kExitCheckPageMessage);
  }
  return {};
}

std::vector<std::string> ExitCheckPages(const ExitCheckSettings& settings) {
  std::vector<std::string> pages{settings.page};
  for (const std::string& p : settings.fallback_pages) {
    bool known = false;
    for (const std::string& have : pages) known = known || EqualsIgnoreAsciiCase(have, p);
    if (!known && ExitCheckPageError(p).empty()) pages.push_back(p);
  }
  return pages;
}

ExitCheckSettings LoadExitCheckSettings(ProfileStore& profile) {
  ExitCheckSettings s;
  ReadFields(profile, kExitCheckSection, kExitCheckFields, &s);
  return s;
}

WriteStatus SaveExitCheckSettings(ProfileStore& profile, const ExitCheckSettings& settings) {
  return WriteFields(profile, kExitCheckSection, kExitCheckFields, settings);
}

std::string FindFirstIpv4(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    if (!IsDigit(text[i])) {
      ++i;
      continue;
    }
    // `i` starts a run of digits and dots; a quad counts only when the run is
    // exactly the quad and nothing alphanumeric touches it.
    size_t start = i;
    size_t end = start;
    while (end < text.size() && (IsDigit(text[end]) || text[end] == '.')) ++end;
    // A trailing dot is punctuation ("… is 1.2.3.4."), not a fifth part.
    size_t quad_end = end;
    while (quad_end > start && text[quad_end - 1] == '.') --quad_end;
    bool glued_before = start > 0 && (IsAsciiLetter(text[start - 1]) || text[start - 1] == '.' ||
                                      text[start - 1] == '_');
    bool glued_after = end < text.size() && (IsAsciiLetter(text[end]) || text[end] == '_');
    if (!glued_before && !glued_after && !EndsIpv6Prefix(text, start)) {
      size_t pos = start;
      int parts = 0;
      for (; parts < 4; ++parts) {
        size_t n = QuadPart(text, pos);
        if (n == 0) break;
        pos += n;
        if (parts < 3) {
          if (pos >= quad_end || text[pos] != '.') break;
          ++pos;
        }
      }
      if (parts == 4 && pos == quad_end) return std::string(text.substr(start, pos - start));
    }
    i = end;
  }
  return {};
}

ExitCheck::ExitCheck(ExitFetcher& fetcher, Clock& clock, Locator locator)
    : fetcher_(fetcher), clock_(clock), locator_(std::move(locator)) {}

void ExitCheck::ApplySettings(const ExitCheckSettings& settings) { settings_ = settings; }

uint64_t ExitCheck::OnSwitched(std::string_view proxy_text) {
  // Whatever ran for the previous proxy no longer describes what is in force.
  check_id_ = 0;
  answered_ = false;
  exit_address_.clear();
  failure_ = ExitFailure::kNone;
  proxy_ = std::string(Trim(proxy_text));
  uint32_t now = clock_.NowMs();
  uint32_t deadline =
      uint32_t(std::clamp(settings_.deadline_seconds, 1, kMaxExitCheckDeadlineSeconds)) * 1000;
  if (proxy_.empty()) {
    phase_ = ExitPhase::kNoProxy;
    return 0;
  }
  phase_ = ExitPhase::kChecking;
  pages_ = ExitCheckPages(settings_);
  generation_ = next_id_++;
  check_id_ = generation_;
  check_page_ = 0;
  check_saw_page_ = false;
  check_started_ms_ = now;
  check_deadline_ms_ = deadline;
  // The own address is learnt once; a start without network (or a page that
  // was down) tries again at the next switch rather than never knowing it.
  bool start_direct = own_address_.empty() && direct_id_ == 0;
  if (start_direct) {
    direct_id_ = next_id_++;
    direct_page_ = 0;
    direct_started_ms_ = now;
    direct_deadline_ms_ = deadline;
  }
  uint64_t check = check_id_;
  uint64_t direct = direct_id_;
  fetcher_.StartFetch(check, pages_[0], ExitRoute::kSystem);
  if (start_direct) fetcher_.StartFetch(direct, pages_[0], ExitRoute::kDirect);
  return check;
}

bool ExitCheck::OnFetchDone(uint64_t id, bool ok, std::string_view body) {
  if (id == 0) return false;
  if (id == direct_id_) {
    direct_id_ = 0;
    std::string address = ok ? FindFirstIpv4(body) : std::string();
    if (address.empty()) {
      // The next page, while there is one (the deadline still counts).
      if (direct_page_ + 1 < pages_.size()) {
        direct_id_ = next_id_++;
        uint64_t next = direct_id_;
        fetcher_.StartFetch(next, pages_[++direct_page_], ExitRoute::kDirect);
      }
      return false;
    }
    own_address_ = std::move(address);
    // A check that already passed may turn out to have gone out direct.
    ExitPhase before = phase_;
    ExitFailure failure_before = failure_;
    if (answered_) Judge();
    // The own address also shows when no proxy is in use.
    return phase_ != before || failure_ != failure_before || phase_ == ExitPhase::kNoProxy;
  }
  if (id != check_id_) return false;
  check_id_ = 0;
  std::string address = ok ? FindFirstIpv4(body) : std::string();
  if (address.empty()) {
    check_saw_page_ = check_saw_page_ || ok;
    if (check_page_ + 1 < pages_.size()) {
      check_id_ = next_id_++;
      uint64_t next = check_id_;
      fetcher_.StartFetch(next, pages_[++check_page_], ExitRoute::kSystem);
      return false;
    }
    // Every page failed: a page that answered without an address says more
    // than one that did not answer.
    answered_ = check_saw_page_;
    exit_address_.clear();
    phase_ = ExitPhase::kFailed;
    failure_ = check_saw_page_ ? ExitFailure::kNoAddress : ExitFailure::kNoAnswer;
    return true;
  }
  answered_ = true;
  exit_address_ = std::move(address);
  Judge();
  return true;
}

void ExitCheck::Judge() {
  if (exit_address_.empty()) {
    phase_ = ExitPhase::kFailed;
    failure_ = ExitFailure::kNoAddress;
  } else if (!own_address_.empty() && exit_address_ == own_address_) {
    phase_ = ExitPhase::kFailed;
    failure_ = ExitFailure::kSameAsDirect;
  } else {
    phase_ = ExitPhase::kPassed;
    failure_ = ExitFailure::kNone;
  }
}

bool ExitCheck::OnTick() {
  uint32_t now = clock_.NowMs();
  // Unsigned differences: the tick count wraps.
  if (direct_id_ != 0 && now - direct_started_ms_ >= direct_deadline_ms_) direct_id_ = 0;
  if (check_id_ != 0 && now - check_started_ms_ >= check_deadline_ms_) {
    check_id_ = 0;
    answered_ = false;
    phase_ = ExitPhase::kFailed;
    failure_ = ExitFailure::kNoAnswer;
    return true;
  }
  return false;
}

std::string ExitCheck::AddressWithLocation(const std::string& address) const {
  std::string text = address;
  if (locator_) {
    // The locator's text is a temporary: it is kept for as long as its
    // trimmed view is read.
    std::string located = locator_(address);
    std::string_view where = Trim(located);
    if (!where.empty()) {
      text += ' ';
      text += where;
    }
  }
  return text;
}

std::string ExitCheck::TipText(std::string_view shown) const {
  if (phase_ == ExitPhase::kNoProxy) {
    std::string text = "未使用代理";
    if (!own_address_.empty())
      text += std::string(kArrow) + "本机 " + AddressWithLocation(own_address_);
    return text;
  }
  std::string text = (shown.empty() ? proxy_ : std::string(shown)) + std::string(kArrow);
  switch (phase_) {
    case ExitPhase::kChecking:
      return text + "正在检测出口…";
    case ExitPhase::kPassed:
      return text + "出口 " + AddressWithLocation(exit_address_);
    default:
      break;
  }
  switch (failure_) {
    case ExitFailure::kNoAddress:
      return text + "出口检测失败（网页中没有IP地址）";
    case ExitFailure::kSameAsDirect:
      return text + "出口 " + AddressWithLocation(exit_address_) + "（与本机直连相同，代理未生效）";
    default:
      return text + "出口检测失败（超时或无法连接）";
  }
}

int32_t NextFailoverRow(const ProxyList& list, int32_t failed_row,
                        const std::vector<int32_t>& tried, const std::vector<uint16_t>& relay_ports,
                        const PlaceFilter& places) {
  int64_t n = int64_t(list.size());
  if (n == 0) return -1;
  int64_t first = tried.empty() ? failed_row : tried.front();
  int64_t pos = int64_t(failed_row) + 1;
  if (pos < 0 || pos >= n) pos = 0;
  PlaceMatcher matcher(places);
  for (int64_t step = 0; step < n; ++step) {
    int64_t row = (pos + step) % n;
    if (row == first) return -1;  // back at the tick's first row: the pass is over
    if (row == failed_row) continue;
    if (std::find(tried.begin(), tried.end(), int32_t(row)) != tried.end()) continue;
    const ProxyRow r = list.row(size_t(row));
    if (!IsSwitchTarget(r, relay_ports) || !matcher.Passes(r.location)) continue;
    return int32_t(row);
  }
  return -1;
}

}  // namespace core
