#include "core/proxylist/drop_intake.h"

#include "core/base/text.h"
#include "core/proxylist/address_extractor.h"
#include "core/proxylist/list_file.h"

namespace core {
namespace {

std::string DropText(const DropSummary& s) {
  return s.with_login < 0 ? s.Summary("拖动进来的代理")
                          : ExtractedSummary(s, "拖动进来的文字", s.with_login);
}

}  // namespace

DropSummary AddDroppedText(ProxyList& list, std::string_view text) {
  const std::string_view all = text;
  DropSummary s;
  {
    ProxyList::Batch batch(list);
    while (!text.empty()) {
      std::string_view line;
      if (size_t lf = text.find('\n'); lf != std::string_view::npos) {
        line = text.substr(0, lf);
        text.remove_prefix(lf + 1);
      } else {
        line = text;
        text = {};
      }
      line = Trim(line);
      if (line.empty()) continue;
      s.Count(list.AddProxy(line, false, LineOrigin::kOutside));
    }
  }
  s.caption = std::string(kMsgCaptionAddResult);
  if (s.errors > 0 && s.added == 0 && s.duplicates == 0) {
    // Not one line was a proxy line (a copied web page, a list with schemes):
    // the proxies in the text go in instead, when there are any.
    ExtractedProxies found = ExtractProxyLines(all);
    if (!found.lines.empty()) {
      DropSummary e;
      ProxyList::Batch batch(list);
      for (const std::string& line : found.lines) {
        e.Count(list.AddProxy(line, false, LineOrigin::kOutside));
      }
      e.caption = s.caption;
      e.with_login = found.with_login;
      e.message = DropText(e);
      return e;
    }
  }
  s.message = DropText(s);
  return s;
}

DropSummary FinishStagedDrop(DropSummary summary, ProxyList& staged, ProxyList& list) {
  ProxyList::TakeCounts taken = list.TakeRows(staged);
  summary.added = taken.added;
  summary.duplicates += taken.duplicates;
  summary.full += taken.full;
  summary.message = DropText(summary);
  return summary;
}

}  // namespace core
