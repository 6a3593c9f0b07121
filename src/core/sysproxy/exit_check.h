// The exit check: after every switch of the system proxy the program fetches an
// address-echo page through the system's own settings and shows which address
// the world sees ("1.2.3.4:8080 → 出口 5.6.7.8 美国"), red when no answer came in
// time or the answer is the machine's own direct address. The program's owner
// holds one ExitCheck and the fetcher behind it; UI thread only. The free
// functions are pure and may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/clock.h"
#include "core/base/profile_store.h"
#include "core/proxylist/place_filter.h"
#include "core/proxylist/proxy_list.h"

namespace core {

// Profile section "Exit Check".
inline constexpr std::string_view kExitCheckSection = "Exit Check";
inline constexpr std::string_view kExitCheckPageKey = "Echo page";
inline constexpr std::string_view kExitCheckDeadlineKey = "Deadline seconds";
inline constexpr std::string_view kExitCheckFailoverKey = "Failover on failed check";
inline constexpr std::string_view kExitCheckEnabledKey = "Check after switch";
// Pages asked, in order, when the echo page gives no address: one that answers
// in mainland China, then another abroad. Stored as one text, separated by blanks.
inline constexpr std::string_view kExitCheckFallbackKey = "Fallback pages";
inline constexpr std::string_view kDefaultFallbackPages[] = {"https://myip.ipip.net/",
                                                             "https://api.ipify.org/"};
// https, so that a proxy cannot answer in the page's place.
inline constexpr std::string_view kDefaultExitCheckPage = "https://ifconfig.me/ip";
inline constexpr int32_t kDefaultExitCheckDeadlineSeconds = 10;
inline constexpr int32_t kMaxExitCheckDeadlineSeconds = 60;
inline constexpr std::string_view kExitCheckPageMessage =
    "出口检测网页必须是以 http:// 或 https:// 开头的网址";

struct ExitCheckSettings {
  bool enabled = true;  // a check after every switch
  std::string page = std::string(kDefaultExitCheckPage);
  // Asked one after the other when the page before gave no address.
  std::vector<std::string> fallback_pages{std::begin(kDefaultFallbackPages),
                                          std::end(kDefaultFallbackPages)};
  int32_t deadline_seconds = kDefaultExitCheckDeadlineSeconds;  // 1 .. 60
  bool failover = false;  // automatic switching moves on when a check fails
};

// Empty when `page` can be the echo page (an http:// or https:// URL, any letter
// case, with a host after the scheme and no blanks or control characters);
// kExitCheckPageMessage otherwise.
std::string ExitCheckPageError(std::string_view page);

// The pages a check asks, in order: the echo page, then each fallback page
// that is not the same (letter case aside).
std::vector<std::string> ExitCheckPages(const ExitCheckSettings& settings);

// Reads the section. A missing or refused page gives the default page; a
// deadline outside 1..60 seconds is brought into that range (0 or less: the
// default); failover is on for any non-zero number. Missing fallback pages are
// the default ones; an empty text is none; refused pages are left out.
ExitCheckSettings LoadExitCheckSettings(ProfileStore& profile);
// Writes all four values; fails with the first refusal. A page that
// ExitCheckPageError refuses is not written (a failure saying why) and the
// others still are.
WriteStatus SaveExitCheckSettings(ProfileStore& profile, const ExitCheckSettings& settings);

// The first IPv4 address written in `text` (plain text, HTML or JSON), as
// dotted decimal: four parts of one to three digits, each 0..255, without
// leading zeros. A quad glued to letters or to further dotted numbers
// ("v1.2.3.4", "1.2.3.4.5", "1.2.3.4x") is not an address, nor one inside an
// IPv6 address ("::ffff:1.2.3.4"); a sentence's full stop after it is no
// fifth part. Empty when there is none.
// Linear in the size of `text`.
std::string FindFirstIpv4(std::string_view text);

// How a fetch goes out: through the system proxy settings in force (what a
// browser on this machine gets), or straight to the page.
enum class ExitRoute { kSystem, kDirect };

// Fetches the echo page in the background.
class ExitFetcher {
 public:
  virtual ~ExitFetcher() = default;
  // Starts fetching `page` by `route` and returns at once. The outcome comes
  // back later on the UI thread as ExitCheck::OnFetchDone(id, …), never from
  // inside this call; a fetch that could not start comes back as a failure. A
  // fetch may also never come back: the check's deadline covers that.
  virtual void StartFetch(uint64_t id, const std::string& page, ExitRoute route) = 0;
};

enum class ExitPhase {
  kNoProxy,   // no system proxy in use: nothing to check
  kChecking,  // a check runs
  kPassed,    // the page answered with an address other than the direct one
  kFailed,    // see ExitFailure
};

enum class ExitFailure {
  kNone,
  kNoAnswer,      // the fetch failed or the deadline passed
  kNoAddress,     // the page answered without an IPv4 address
  kSameAsDirect,  // the page saw the machine's own direct address: the proxy is not in effect
};

class ExitCheck {
 public:
  // Location text of an IPv4 address ("美国"); empty when unknown. May be empty.
  using Locator = std::function<std::string(std::string_view address)>;

  ExitCheck(ExitFetcher& fetcher, Clock& clock, Locator locator = {});
  ExitCheck(const ExitCheck&) = delete;
  ExitCheck& operator=(const ExitCheck&) = delete;

  // Takes effect from the next switch.
  void ApplySettings(const ExitCheckSettings& settings);

  // The system proxy is now `proxy_text` (as the program applied or read it
  // back; empty: no proxy). A non-empty text starts a check through the system
  // settings and returns its generation; the result of any earlier check is
  // ignored from now on. While the machine's own address is unknown and no
  // direct fetch runs, a direct fetch starts too. Returns 0 for no proxy.
  // A page that fails or answers without an address hands over to the next of
  // ExitCheckPages; the check fails only when every page did (or the deadline
  // passed).
  uint64_t OnSwitched(std::string_view proxy_text);

  // A fetch ended. Unknown and stale ids (an earlier check, a fetch already
  // given up) are ignored. Returns true when what is shown changed.
  bool OnFetchDone(uint64_t id, bool ok, std::string_view body);

  // Gives up the fetches whose deadline has passed. Returns true when what is
  // shown changed. The owner calls it on a timer while waiting() holds.
  bool OnTick();

  // A fetch is outstanding (the check or the direct one).
  bool waiting() const { return check_id_ != 0 || direct_id_ != 0; }

  ExitPhase phase() const { return phase_; }
  ExitFailure failure() const { return failure_; }
  // The dot shows red: the last check of the proxy in use failed.
  bool failed() const { return phase_ == ExitPhase::kFailed; }
  // The check's number, as OnSwitched returned it (0 before any).
  uint64_t generation() const { return generation_; }
  const std::string& proxy() const { return proxy_; }
  const std::string& exit_address() const { return exit_address_; }
  const std::string& own_address() const { return own_address_; }
  // The tooltip, tray tip and status text:
  //   "1.2.3.4:8080 → 出口 5.6.7.8 美国"                passed
  //   "1.2.3.4:8080 → 正在检测出口…"                     checking
  //   "1.2.3.4:8080 → 出口检测失败（超时或无法连接）"      no answer
  //   "1.2.3.4:8080 → 出口检测失败（网页中没有IP地址）"    no address
  //   "1.2.3.4:8080 → 出口 5.6.7.8 美国（与本机直连相同，代理未生效）"
  //   "未使用代理", or "未使用代理 → 本机 5.6.7.8 美国" once the own address is known
  // The location and its blank are left out when the locator knows none.
  // `shown`, when given, names the proxy instead of the text it was switched
  // to (the relay carries it through another row).
  std::string TipText(std::string_view shown = {}) const;

 private:
  std::string AddressWithLocation(const std::string& address) const;
  // Sets phase_ and failure_ from the check's answer and the own address.
  void Judge();

  ExitFetcher& fetcher_;
  Clock& clock_;
  Locator locator_;
  ExitCheckSettings settings_;

  uint64_t next_id_ = 1;
  uint64_t generation_ = 0;
  ExitPhase phase_ = ExitPhase::kNoProxy;
  ExitFailure failure_ = ExitFailure::kNone;
  std::string proxy_;
  std::string exit_address_;
  std::string own_address_;
  bool answered_ = false;  // the check's page answered (exit_address_ may still be empty)

  std::vector<std::string> pages_;  // the pages of the current check
  size_t check_page_ = 0;            // the page the check's fetch asks
  bool check_saw_page_ = false;      // a page answered, without an address
  size_t direct_page_ = 0;
  uint64_t check_id_ = 0;  // 0: no check outstanding
  uint32_t check_started_ms_ = 0;
  uint32_t check_deadline_ms_ = 0;
  uint64_t direct_id_ = 0;  // 0: no direct fetch outstanding
  uint32_t direct_started_ms_ = 0;
  uint32_t direct_deadline_ms_ = 0;
};

// Automatic switching's failover: the exit check of the row applied for this
// tick failed, so the next row is tried at once. `failed_row` is the row whose
// check failed; `tried` the rows applied during this tick, first the tick's own
// row (an empty `tried` counts as {failed_row}). Walks forward from the row
// after `failed_row`, wrapping, and stops before coming back to the tick's first
// row, so one tick makes at most one pass over the list. Rows whose last
// verification failed (score 0), rows already tried, rows naming the
// program's own relay (this machine on one of `relay_ports`) and rows outside
// `places` are passed over.
// Returns the row to apply next, or -1 when there is none (the list is empty,
// or every other row has failed or was tried). Indexes outside the list in
// `failed_row` or `tried` are allowed (rows may have been deleted meanwhile).
int32_t NextFailoverRow(const ProxyList& list, int32_t failed_row,
                        const std::vector<int32_t>& tried,
                        const std::vector<uint16_t>& relay_ports = {},
                        const PlaceFilter& places = {});

}  // namespace core
