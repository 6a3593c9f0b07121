#include "core/proxylist/add_tally.h"

#include "core/base/text.h"

namespace core {

void AddTally::Count(AddResult result) {
  ++total;
  if (result == AddResult::kAdded) {
    ++added;
  } else if (result == AddResult::kDuplicate) {
    ++duplicates;
  } else if (result == AddResult::kListFull) {
    ++full;
  } else {
    ++errors;
  }
}

std::string AddTally::Summary(std::string_view what) const {
  std::string text =
      Format("%.*s共%d条，其中\n  成功加入：%3d条\n  重复项目：%3d条\n  错误项目：%3d条",
             int(what.size()), what.data(), total, added, duplicates, errors);
  if (full > 0) {
    text += "\n  " + ListFullText() + Format("，未加入：%d条", full);
  }
  return text;
}

std::string ListFullText() { return Format("列表已满（最多%d条）", int(kMaxListRows)); }

std::string ExtractedSummary(const AddTally& tally, std::string_view where, int with_login) {
  std::string text = Format("%.*s不是ip数据列表，从中找到%d个代理地址\n", int(where.size()),
                            where.data(), tally.total) +
                     tally.Summary("ip服务器信息");
  if (with_login > 0) text += Format("\n  其中带用户名密码：%3d条", with_login);
  return text;
}

}  // namespace core
