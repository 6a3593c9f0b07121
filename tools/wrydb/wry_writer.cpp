#include "wrydb/wry_writer.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "core/base/codepage.h"
#include "core/base/text.h"
#include "core/proxylist/country_names.h"
#include "wrydb/geoip_ranges.h"

namespace wrydb {
namespace {

constexpr size_t kRecordBytes = 105;
constexpr size_t kMaxNotice = 1024;

std::string Key(uint32_t a) {
  return core::Format("%03u.%03u.%03u.%03u", a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
}

// Copies `text` into the record at `pos`, cut to `room` bytes; the rest of the
// room and the byte after it (the reader's forced zero) stay zero.
void PutField(char* record, size_t pos, size_t room, std::string_view text) {
  std::memcpy(record + pos, text.data(), std::min(room, text.size()));
}

void PutLe(std::string& file, size_t at, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) file[at + size_t(i)] = char((v >> (8 * i)) & 0xFF);
}

void PutRecord(char* record, std::string_view start, std::string_view end, const WryEntry& e) {
  PutField(record, 0, 15, start);
  PutField(record, 16, 15, end);
  PutField(record, 32, core::kCountryRoom,
           core::Utf8ToGbk(core::CutToGbkBytes(e.country, core::kCountryRoom)));
  PutField(record, 46, core::kAreaRoom,
           core::Utf8ToGbk(core::CutToGbkBytes(e.area, core::kAreaRoom)));
  PutField(record, 93, 11, core::Utf8ToGbk(core::CutToGbkBytes(e.extra, 11)));
}

}  // namespace

std::optional<std::string> BuildWryFile(const std::vector<WryEntry>& entries,
                                        std::string_view notice, std::string* error) {
  for (size_t i = 0; i < entries.size(); ++i) {
    const WryEntry& e = entries[i];
    if (e.first > e.last || (i > 0 && e.first <= entries[i - 1].last)) {
      *error = "entries out of order or overlapping at " + DottedQuad(e.first);
      return std::nullopt;
    }
  }
  // One more record than entries: the search never examines the last one.
  const uint64_t count = uint64_t(entries.size()) + 1;
  if (count > uint64_t(std::numeric_limits<int32_t>::max())) {
    *error = "too many entries";
    return std::nullopt;
  }
  notice = notice.substr(0, kMaxNotice);

  // Record k starts at k * 105 + B + 1, so record 1 at 106 + B; the notice and
  // its terminating zero sit between the 12 header bytes and record 1.
  const size_t first_record = std::max<size_t>(kWryStride + 1, 12 + notice.size() + 1);
  const auto base = uint16_t(first_record - kWryStride - 1);
  std::string file(first_record + size_t(count) * kRecordBytes, '\0');
  std::copy(kWryMagic.begin(), kWryMagic.end(), file.begin());
  PutLe(file, 4, uint32_t(count), 4);
  PutLe(file, 8, base, 2);
  PutLe(file, 10, kWryStride, 2);
  std::copy(notice.begin(), notice.end(), file.begin() + 12);

  for (size_t k = 1; k <= entries.size(); ++k) {
    const WryEntry& e = entries[k - 1];
    PutRecord(file.data() + k * kWryStride + base + 1, Key(e.first), Key(e.last), e);
  }
  // The sentinel's range ends before it starts, so no key could ever match it.
  PutRecord(file.data() + count * kWryStride + base + 1, "999.999.999.999", "000.000.000.000",
            WryEntry{});
  return file;
}

}  // namespace wrydb
