#include "core/proxylist/wry_testing.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>

#include "core/base/codepage.h"
#include "core/proxylist/ip_location.h"

namespace core::testing {
namespace {

constexpr size_t kRecordBytes = 105;

void PutText(std::string& file, size_t at, size_t room, std::string_view text) {
  text = text.substr(0, std::min(room, text.size()));
  std::copy(text.begin(), text.end(), file.begin() + ptrdiff_t(at));
  std::fill(file.begin() + ptrdiff_t(at + text.size()), file.begin() + ptrdiff_t(at + room + 1),
            '\0');
}

void PutLe(std::string& file, size_t at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) file[at + size_t(i)] = char((value >> (8 * i)) & 0xFF);
}

}  // namespace

std::string BuildWryBytes(const std::vector<WryRecord>& records, const WryLayout& layout) {
  const size_t n = records.size();
  const size_t end = n == 0 ? 12 : n * layout.stride + layout.base + 1 + kRecordBytes;
  std::string file(std::max<size_t>(end, 12), '\0');
  std::copy_n(layout.magic.begin(), std::min<size_t>(4, layout.magic.size()), file.begin());
  PutLe(file, 4, uint32_t(layout.count.value_or(int32_t(n))), 4);
  PutLe(file, 8, layout.base, 2);
  PutLe(file, 10, layout.stride, 2);
  for (size_t k = 1; k <= n; ++k) {
    const WryRecord& r = records[k - 1];
    const size_t at = k * layout.stride + layout.base + 1;
    PutText(file, at + 0, 15, r.start);
    PutText(file, at + 16, 15, r.end);
    PutText(file, at + 32, 13, r.country);
    PutText(file, at + 46, 46, r.area);
    PutText(file, at + 93, 11, r.extra);
  }
  return file;
}

WryRecord WryRange(std::string_view first, std::string_view last, std::string_view country,
                   std::string_view area, std::string_view extra) {
  return WryRecord{IpLookupKey(first), IpLookupKey(last), Utf8ToGbk(country), Utf8ToGbk(area),
                   Utf8ToGbk(extra)};
}

bool WriteBytesToFile(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
  out.close();
  return bool(out);
}

std::filesystem::path MakeTempDir(std::string_view prefix) {
  static std::atomic<unsigned> counter{0};
  const auto tick = std::chrono::steady_clock::now().time_since_epoch().count();
  for (;;) {
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / (std::string(prefix) + "-" + std::to_string(tick) +
                                                  "-" + std::to_string(counter.fetch_add(1)));
    std::error_code ec;
    if (std::filesystem::create_directory(dir, ec)) return dir;
    if (ec) return {};
  }
}

}  // namespace core::testing
