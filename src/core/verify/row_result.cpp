#include "core/verify/row_result.h"

#include <algorithm>

#include "core/base/text.h"
#include "core/proxylist/proxy_line.h"

namespace core {
namespace {

struct StatusTexts {
  const char* code;
  const char* text;
  bool penalty;  // costs 5 × weight
};

StatusTexts TextsOf(int status) {
  switch (status) {
    case kSiteNotTested:
      return {"-;", "未验证;", false};
    case kSiteKindMismatch:
      return {"-;", "目的网站不支持此协议的验证;", false};
    case kSiteBadUrl:
      return {"X;", "目的网站地址无效;", false};
    case kSiteUnreachable:
      return {"X;", "无法连接proxy服务器;", false};
    case kSiteNoProtocol:
      return {"X;", "协议不可用;", false};
    case kSiteNotFetched:
      return {"X;", "无法取回目的文件;", false};
    case kSiteWrongPassword:
      return {"*;", "密码不匹配;", false};
    case kSiteNoMatch:
      return {"?;", "不匹配;", false};
    default:
      return {"X;", "超时;", true};  // kSiteNotCreated and unknown values
  }
}

// A usable site's points: (60 − seconds) × weight, truncated toward zero. Times
// are clamped so that a nonsense value cannot overflow the 32-bit sum.
int32_t TimePoints(double seconds, int weight) {
  double points = (60.0 - seconds) * weight;
  if (!(points > -1e7)) points = -1e7;
  if (points > 1e7) points = 1e7;
  return int32_t(points);
}

bool TypeAllowed(const VerifySettings& s, const std::string& type) {
  bool untyped = type.empty();
  if (s.add_http && (untyped || type == "HTTP" || type == "HTTPS")) return true;
  if (s.add_socks && (untyped || IsSocksType(type))) {
    return true;
  }
  return s.add_ftp && (untyped || type == "FTP");
}

}  // namespace

int SiteWeight(int position) {
  static constexpr int kWeights[] = {20, 15, 10, 7, 5, 3, 2};
  return position >= 0 && position < 7 ? kWeights[position] : 1;
}

RowResult ComputeRowResult(const std::vector<SiteOutcome>& outcomes, bool reserved) {
  RowResult r;
  std::string shorts;
  std::string longs;
  int64_t sum = 0;
  for (size_t i = 0; i < outcomes.size(); ++i) {
    int weight = SiteWeight(int(i));
    if (outcomes[i].status == kSiteUsable) {
      std::string t = Format("%.1f;", outcomes[i].seconds);
      shorts += t;
      longs += t;
      sum += TimePoints(outcomes[i].seconds, weight);
      r.usable = true;
      continue;
    }
    StatusTexts texts = TextsOf(outcomes[i].status);
    shorts += texts.code;
    longs += texts.text;
    if (texts.penalty) sum -= 5 * weight;
  }
  if (!shorts.empty()) shorts.pop_back();
  if (r.usable) {
    r.status = std::move(shorts);
    r.score = int32_t(std::clamp<int64_t>(sum, 1, INT32_MAX - kReservedBonus));
  } else {
    r.status = std::string(kStatusUnusable);
    r.score = 0;
  }
  if (reserved) r.score += kReservedBonus;
  r.result = Format("[%d]", int(r.score)) + longs;
  return r;
}

bool WriteRowResult(ProxyList& list, size_t row, const std::vector<SiteOutcome>& outcomes) {
  if (row >= list.size()) return false;
  RowResult r = ComputeRowResult(outcomes, list.IsReserved(row));
  list.SetVerifyResult(row, std::move(r.status), std::move(r.result), r.score);
  return r.usable;
}

int32_t LinkTimeThreshold(double seconds, int sites) {
  int32_t sum = 0;
  for (int j = 0; j < sites; ++j) sum += TimePoints(seconds, SiteWeight(j));
  return sum;
}

std::string WorkerProxyLine(const ProxyList& list, size_t row) {
  return list.RowProxyText(int64_t(row));
}

std::optional<RowId> ApplyEndOfRunRules(ProxyList& list, const VerifySettings& settings,
                                        int sites) {
  ProxyList::Batch batch(list);
  if (settings.auto_delete_failed) {
    list.RemoveRowsIf([](const ProxyRow& r) { return r.score == 0; });
  }
  list.SortListColumn(kColStatus, 1);

  if (settings.reset_favorites) {
    int32_t threshold = LinkTimeThreshold(settings.time_less_than, sites);
    int chosen = 0;
    for (size_t k = 0; k < list.size(); ++k) {
      const ProxyRow& r = list.row(k);
      bool tick = r.score > 0;
      if (tick && settings.add_best && chosen >= settings.best_count) tick = false;
      if (tick && settings.add_link_time_less && r.score < threshold) tick = false;
      if (tick && settings.only_selected_types) {
        // The type rule judges a row by its host:port text, as it always has:
        // every row passes it as untyped.
        ProxyLine line;
        ParseProxyLine(list.RowHostPort(int64_t(k)), &line);
        tick = TypeAllowed(settings, line.type);
      }
      // A reserved row refuses to be unticked; it then does not count as chosen.
      list.SetChecked(k, tick);
      if (tick) ++chosen;
    }
  }

  // Only a usable row is worth switching to; a list whose top row was never
  // verified (score -1) has no best proxy.
  if (settings.auto_use_best && !list.empty() && list.row(0).score > 0 && !list.row(0).expired) {
    return list.IdAt(0);
  }
  return std::nullopt;
}

}  // namespace core
