// Fuzzes the list-file import with arbitrary file contents, then exports the
// result and imports it again. The list's invariants must hold throughout: the
// favourite count equals the ticked rows and the export reads back to the same rows.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/base/codepage.h"
#include "core/base/file_path.h"
#include "core/proxylist/list_file.h"
#include "core/proxylist/proxy_list.h"

namespace {

std::string TempFile(const char* name) {
  static const std::filesystem::path dir = [] {
    auto d = std::filesystem::temp_directory_path() /
             ("relaymoth-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(d);
    return d;
  }();
  return core::PathToUtf8(dir / name);
}

void CheckCount(const core::ProxyList& list) {
  int ticked = 0;
  for (size_t i = 0; i < list.size(); ++i) ticked += list.row(i).favourite ? 1 : 0;
  if (ticked != list.favourite_count()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string in_path = TempFile("in.txt");
  static const std::string out_path = TempFile("out.txt");
  {
    std::ofstream out(core::PathFromUtf8(in_path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
  }
  core::GbkCodec codec;
  core::ProxyList list;
  list.AddProxy("1.1.1.1:80", true);
  bool favourite = size > 0 && (data[0] & 1);
  core::ImportSummary s = core::ImportListFile(in_path, list, size > 0 && (data[0] & 2), favourite,
                                               codec);
  if (s.lines != s.added + s.duplicates + s.errors) std::abort();
  CheckCount(list);
  if (list.size() > 0) list.SetReserved(list.size() - 1, true);
  CheckCount(list);

  core::ExportSummary e =
      core::ExportListFile(out_path, list, core::ExportForm::kFullLine, false, codec);
  if (!e.ok || size_t(e.count) != list.size()) std::abort();
  core::ProxyList back;
  core::ImportSummary r = core::ImportListFile(out_path, back, true, false, codec);
  // Every exported row comes back, when the first one still makes the file a
  // list file (its address begins with a digit).
  if (list.size() > 0 && list.row(0).address[0] >= '0' && list.row(0).address[0] <= '9') {
    if (!r.ok || back.size() != list.size()) std::abort();
    for (size_t i = 0; i < list.size(); ++i) {
      if (back.RowFullLine(int64_t(i)) != list.RowFullLine(int64_t(i))) std::abort();
    }
  }
  return 0;
}
