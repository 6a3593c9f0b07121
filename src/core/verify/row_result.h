// Turning one finished test run into a list row's result (status text, result
// text, score), and the rules that run once when a whole verification has ended:
// delete failed rows, sort by score, reset the favorites, choose the best proxy.
// UI thread only, on the list that the main dialog shows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/proxylist/proxy_list.h"
#include "core/verify/verify_run.h"
#include "core/verify/verify_settings.h"

namespace core {

inline constexpr std::string_view kStatusVerifying = "验证中...";
inline constexpr std::string_view kStatusUnusable = "不可用";
inline constexpr int32_t kReservedBonus = 100;

// Weight of a site by its position in the run: 20, 15, 10, 7, 5, 3, 2, then 1.
int SiteWeight(int position);

struct RowResult {
  std::string status;  // column 3: the short texts, or "不可用" when no site was usable
  std::string result;  // column 5: "[score]" and the long texts
  int32_t score = 0;   // 0 unusable, >= 1 usable; reserved rows add 100
  bool usable = false;
};

// The result of a run with these outcomes (one per site, in site order).
RowResult ComputeRowResult(const std::vector<SiteOutcome>& outcomes, bool reserved);

// Writes the result of a finished run into row `row`. Returns whether a site was
// usable (the run counts the row as usable); false also for a row outside the list.
bool WriteRowResult(ProxyList& list, size_t row, const std::vector<SiteOutcome>& outcomes);

// The score a row reaches when every one of `sites` sites is usable in exactly
// `seconds`: the "connect faster than" rule ticks rows at or above it.
int32_t LinkTimeThreshold(double seconds, int sites);

// The proxy line a worker is given for a row: its proxy text (RowProxyText), so
// a SOCKS row is tested in SOCKS and a row with a log-in by its user name (the
// password goes to the run apart, VerifyRun::SetCredentials); every other row
// as host:port, the plain proxy form serving all protocols.
std::string WorkerProxyLine(const ProxyList& list, size_t row);

// The end-of-run rules, in order: delete rows scoring exactly 0 (with their
// duplicate keys) when so set; sort by score, best first; reset the favorites
// when so set (`sites` is the number of sites of the run, for the threshold);
// and, when "Auto use the best proxy" is on and the top row is usable (score
// above 0), return that row for the caller to make the proxy in use.
std::optional<RowId> ApplyEndOfRunRules(ProxyList& list, const VerifySettings& settings, int sites);

}  // namespace core
