#include "core/proxylist/drop_intake.h"

#include "core/base/text.h"
#include "core/proxylist/list_file.h"

namespace core {

DropSummary AddDroppedText(ProxyList& list, std::string_view text) {
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
      s.Count(list.AddProxy(line, false));
    }
  }
  s.message = s.Summary("拖动进来的代理");
  s.caption = std::string(kMsgCaptionAddResult);
  return s;
}

}  // namespace core
