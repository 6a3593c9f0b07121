#include "core/sysproxy/use_strip.h"

#include <algorithm>

#include "core/base/text.h"

namespace core {

void UseStrip::Record(UseStripKey key, bool ok) {
  if (!(key == key_)) {
    key_ = key;
    bits_ = 0;
    count_ = 0;
  }
  bits_ = (bits_ << 1) | (ok ? 1u : 0u);
  count_ = std::min(count_ + 1, kUseStripLength);
}

std::string UseStrip::Marks(UseStripKey key) const {
  if (!(key == key_)) return {};
  std::string marks;
  for (size_t i = count_; i-- > 0;) marks += (bits_ >> i) & 1 ? '+' : '-';
  return marks;
}

std::string UseStripText(std::string_view marks, bool rotation) {
  if (marks.empty()) return {};
  size_t ok = size_t(std::count(marks.begin(), marks.end(), '+'));
  return rotation ? Format("最近 %zu 个连接：%zu 个成功", marks.size(), ok)
                  : Format("最近 %zu 次出口检测：%zu 次成功", marks.size(), ok);
}

}  // namespace core
