// How the proxy in use has fared lately, for the small bar in the proxy menu:
// the last exit checks of the row in use, or, while the relay gives each
// connection the next row, the last connections it gave a row. Each is ok or
// failed. UI thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/proxylist/proxy_list.h"

namespace core {

inline constexpr size_t kUseStripLength = 20;

// What a strip is about: a row, or the rotation as a whole.
struct UseStripKey {
  RowId row = kNoRow;
  bool rotation = false;
  bool operator==(const UseStripKey& o) const { return row == o.row && rotation == o.rotation; }
};

class UseStrip {
 public:
  // One more outcome for `key`; another key than the last starts a new strip.
  void Record(UseStripKey key, bool ok);
  // The outcomes for `key`, oldest first: '+' ok, '-' failed; "" when the
  // strip is about something else or holds nothing yet.
  std::string Marks(UseStripKey key) const;

 private:
  UseStripKey key_;
  uint32_t bits_ = 0;  // bit i: the i-th latest outcome was ok
  size_t count_ = 0;
};

// The menu item's words for `marks`: "最近 20 次出口检测：18 次成功" or, for the
// rotation, "最近 20 个连接：19 个成功"; "" without marks.
std::string UseStripText(std::string_view marks, bool rotation);

}  // namespace core
