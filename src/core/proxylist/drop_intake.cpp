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
      int r = list.AddProxy(line, false);
      ++s.total;
      if (r == 1) {
        ++s.added;
      } else if (r == 0) {
        ++s.duplicates;
      } else {
        ++s.errors;
      }
    }
  }
  s.message =
      Format("拖动进来的代理共%d条，其中\n  成功加入：%3d条\n  重复项目：%3d条\n  错误项目：%3d条",
             s.total, s.added, s.duplicates, s.errors);
  s.caption = std::string(kMsgCaptionAddResult);
  return s;
}

}  // namespace core
