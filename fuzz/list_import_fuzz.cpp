// Fuzzes the list import with arbitrary file contents, then exports the result
// and imports it again. The list's invariants must hold throughout: the counts
// add up, the favorite count equals the ticked rows, and the export reads back
// to the same rows.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "core/base/codepage.h"
#include "core/proxylist/list_file.h"
#include "core/proxylist/proxy_line.h"
#include "core/proxylist/proxy_list.h"

namespace {

void CheckCount(const core::ProxyList& list) {
  int ticked = 0;
  for (size_t i = 0; i < list.size(); ++i) ticked += list.row(i).favorite ? 1 : 0;
  if (ticked != list.favorite_count()) std::abort();
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  core::GbkCodec codec;
  core::ProxyList list;
  list.AddProxy("1.1.1.1:80", true);
  bool favorite = size > 0 && (data[0] & 1);
  bool keep = size > 0 && (data[0] & 2);
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  core::ImportSummary s = core::ImportListStream(in, "fuzz", list, keep, favorite, codec);
  if (s.lines != s.added + s.duplicates + s.errors) std::abort();
  CheckCount(list);
  if (list.size() > 0) list.SetReserved(list.size() - 1, true);
  CheckCount(list);

  int count = 0;
  bool utf8 = false;
  std::string bytes =
      core::ExportListBytes(list, core::ExportForm::kFullLine, false, codec, &count, &utf8);
  if (size_t(count) != list.size()) std::abort();
  // The export with passwords reads back row for row, log-ins included (the
  // plain one merges rows that differ only by user name), whenever its first
  // line still makes it a list file (it begins with a digit or is a proxy URL).
  bytes = core::ExportListBytes(list, core::ExportForm::kWithLogins, false, codec, &count, &utf8);
  std::string first = list.size() > 0 ? list.RowLineWithLogin(0) : std::string();
  if (!first.empty() && (IsDigit(first[0]) || core::IsProxyUrlLine(first))) {
    core::ProxyList back;
    std::istringstream again(bytes);
    core::ImportSummary r = core::ImportListStream(again, "export", back, true, false, codec);
    if (!r.ok || back.size() != list.size()) std::abort();
    for (size_t i = 0; i < list.size(); ++i) {
      if (back.RowLineWithLogin(int64_t(i)) != list.RowLineWithLogin(int64_t(i))) std::abort();
    }
  }
  return 0;
}
