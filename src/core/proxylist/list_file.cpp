#include "core/proxylist/list_file.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <optional>

#include "core/base/file_path.h"
#include "core/base/text.h"
#include "core/proxylist/add_tally.h"
#include "core/proxylist/address_extractor.h"
#include "core/proxylist/line_reader.h"
#include "core/proxylist/proxy_line.h"
#include "core/proxylist/proxy_table.h"

namespace core {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string OpenFailedText(std::string_view path) {
  return Format("文件[%.*s]打开失败", int(path.size()), path.data());
}

// The text of a line up to its first NUL byte, as text-mode readers have always
// seen it: binary junk after a NUL cannot reach the list.
std::string_view CutAtNul(std::string_view s) {
  size_t nul = s.find('\0');
  return nul == std::string_view::npos ? s : s.substr(0, nul);
}

void StripBom(std::string& line, bool first) {
  if (first && line.compare(0, kUtf8Bom.size(), kUtf8Bom) == 0) line.erase(0, kUtf8Bom.size());
}

// Reads the whole file once to tell UTF-8 from the ANSI code page: a BOM, or
// text whose well-formed multi-byte sequences clearly outnumber the bytes that
// are not UTF-8, means UTF-8. Text in a double-byte ANSI code page forms a
// valid sequence only now and then, so a few damaged bytes in a UTF-8 file do
// not turn every remark into the wrong characters. Pure ASCII is UTF-8 too.
bool LooksLikeUtf8(std::istream& in) {
  // At least this many multi-byte sequences for each byte that is not UTF-8.
  constexpr size_t kSequencesPerBadByte = 4;
  LineReader reader(in);
  std::string line;
  bool too_long = false;
  bool first = true;
  Utf8Census total;
  while (reader.Next(&line, &too_long)) {
    if (first && line.compare(0, kUtf8Bom.size(), kUtf8Bom) == 0) return true;
    first = false;
    // A line cut at the limit may end inside a character; it is an error line
    // either way and does not decide the encoding.
    if (too_long) continue;
    Utf8Census c = CountUtf8(line);
    total.multibyte += c.multibyte;
    total.invalid += c.invalid;
  }
  return total.invalid == 0 || total.multibyte >= kSequencesPerBadByte * total.invalid;
}

// The text of a line in UTF-8, however the file was decided.
std::string LineText(std::string_view line, bool utf8, const AnsiCodec& codec, size_t* replaced) {
  return utf8 ? RepairUtf8(line, replaced) : codec.ToUtf8(line);
}

// The summary's line about bytes of a UTF-8 file that had to be replaced.
std::string ReplacedBytesText(int replaced) {
  return replaced == 0 ? std::string() : Format("\n  无法识别的字节：%3d个", replaced);
}

// The summary of an accepted import.
std::string SummaryText(const ImportSummary& s) {
  AddTally tally;
  tally.total = s.lines;
  tally.added = s.added;
  tally.duplicates = s.duplicates;
  tally.errors = s.errors;
  tally.full = s.full;
  std::string text =
      s.found >= 0 ? ExtractedSummary(tally, "文件", s.with_login) : tally.Summary("ip服务器信息");
  return text + ReplacedBytesText(s.replaced_bytes);
}

// A file that is not a list file: the proxies in its text, if any. Nothing
// changes when none is found.
// `line` with the type `type` when it parses and names none.
std::string WithType(std::string line, std::string_view type) {
  if (type.empty()) return line;
  ProxyLine p;
  if (!ParseProxyLine(line, &p) || !p.type.empty()) return line;
  if (p.has_credentials()) {
    return CredentialLineText(p.address, p.port, type, p.user, p.password, p.remark);
  }
  return FullLineText(p.address, p.port, type, p.remark);
}

ImportSummary ImportExtracted(std::istream& in, bool utf8, ProxyList& list, bool keep,
                              bool favorite, const AnsiCodec& codec, LineOrigin origin,
                              std::string_view untyped_as) {
  ImportSummary s;
  in.clear();
  in.seekg(0);
  std::string text;
  char chunk[65536];
  while (text.size() < kMaxExtractedTextBytes && in) {
    size_t want = std::min(sizeof(chunk), kMaxExtractedTextBytes - text.size());
    in.read(chunk, std::streamsize(want));
    text.append(chunk, size_t(in.gcount()));
  }
  size_t replaced = 0;
  std::string utf8_text = LineText(text, utf8, codec, &replaced);
  // A provider's table names its columns; any other text is searched.
  std::optional<ExtractedProxies> table = ReadProxyTable(utf8_text);
  ExtractedProxies found = table ? std::move(*table) : ExtractProxyLines(utf8_text);
  if (found.lines.empty()) {
    // A file the user picked is not "downloaded".
    s.message = origin == LineOrigin::kOutside ? "下载的文件不是ip数据列表文件"
                                               : "文件不是ip数据列表文件";
    // A provider's link that answers with an error says why.
    std::string said = ProviderErrorText(utf8_text);
    if (!said.empty()) s.message += "，服务器回答：" + said;
    s.caption = std::string(kMsgCaptionError);
    return s;
  }
  ProxyList::Batch batch(list);
  if (!keep) {
    list.RemoveAll();
    s.cleared = true;
  }
  AddTally tally;
  for (const std::string& line : found.lines) {
    tally.Count(list.AddProxy(WithType(line, untyped_as), favorite, LineOrigin::kOutside));
  }
  s.ok = true;
  s.lines = tally.total;
  s.added = tally.added;
  s.duplicates = tally.duplicates;
  s.errors = tally.errors;
  s.full = tally.full;
  s.found = int(found.lines.size());
  s.with_login = found.with_login;
  s.caption = std::string(kMsgCaptionAddResult);
  s.replaced_bytes = int(std::min<size_t>(replaced, INT32_MAX));
  s.message = SummaryText(s);
  return s;
}

}  // namespace

ImportSummary ImportListFile(std::string_view path, ProxyList& list, bool keep, bool favorite,
                             const AnsiCodec& codec, LineOrigin origin,
                             std::string_view untyped_as) {
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  if (!in) {
    ImportSummary s;
    s.message = OpenFailedText(path);
    s.caption = std::string(kMsgCaptionError);
    return s;
  }
  return ImportListStream(in, path, list, keep, favorite, codec, origin, untyped_as);
}

ImportSummary ImportListStream(std::istream& in, std::string_view path, ProxyList& list, bool keep,
                               bool favorite, const AnsiCodec& codec, LineOrigin origin,
                               std::string_view untyped_as) {
  ImportSummary s;
  AddTally tally;
  bool utf8 = LooksLikeUtf8(in);
  size_t replaced = 0;
  in.clear();
  in.seekg(0);

  ProxyList::Batch batch(list);
  LineReader reader(in);
  std::string raw;
  bool too_long = false;
  bool first_line = true;
  bool first_text = true;
  while (reader.Next(&raw, &too_long)) {
    StripBom(raw, first_line && utf8);
    first_line = false;
    std::string_view line = TrimLeft(CutAtNul(raw));
    if (line.empty()) continue;
    if (first_text) {
      // A list begins with an address, or with a proxy URL (a list written with
      // its passwords begins so when its first row has one).
      size_t counted_later = 0;  // the line's replaced bytes are counted when it is added
      if (!IsDigit(line.front()) &&
          !IsProxyUrlLine(LineText(line, utf8, codec, &counted_later))) {
        return ImportExtracted(in, utf8, list, keep, favorite, codec, origin, untyped_as);
      }
      first_text = false;
      if (!keep) {
        list.RemoveAll();
        s.cleared = true;
      }
    }
    if (too_long) {
      // Longer than any proxy line can be: counted, never stored.
      tally.Count(AddResult::kRefused);
      continue;
    }
    tally.Count(list.AddProxy(WithType(LineText(line, utf8, codec, &replaced), untyped_as),
                              favorite, origin));
  }
  s.lines = tally.total;
  s.added = tally.added;
  s.duplicates = tally.duplicates;
  s.errors = tally.errors;
  s.full = tally.full;
  if (!reader.ok()) {
    s.message = OpenFailedText(path);
    s.caption = std::string(kMsgCaptionError);
    return s;
  }
  s.ok = true;
  s.caption = std::string(kMsgCaptionAddResult);
  s.replaced_bytes = int(std::min<size_t>(replaced, INT32_MAX));
  s.message = SummaryText(s);
  return s;
}

ImportSummary FinishStagedImport(ImportSummary summary, ProxyList& staged, ProxyList& list,
                                 bool keep) {
  ProxyList::Batch batch(list);
  if (summary.cleared && !keep) list.RemoveAll();
  ProxyList::TakeCounts taken = list.TakeRows(staged);
  summary.added = taken.added;
  summary.duplicates += taken.duplicates;
  summary.full += taken.full;
  if (summary.ok) summary.message = SummaryText(summary);
  return summary;
}

std::string ExportListBytes(const ProxyList& list, ExportForm form, bool selected_only,
                            const AnsiCodec& codec, int* count, bool* utf8) {
  std::string text;
  *count = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    if (selected_only && !list.row(i).selected) continue;
    text += form == ExportForm::kHostPort   ? list.RowHostPort(int64_t(i))
            : form == ExportForm::kFullLine ? list.RowExportLine(int64_t(i))
                                            : list.RowLineWithLogin(int64_t(i));
    text += "\r\n";
    ++*count;
  }
  if (form == ExportForm::kWithLogins) {
    // Passwords are bytes the ANSI code page may not hold: always UTF-8.
    *utf8 = true;
    return std::string(kUtf8Bom) + text;
  }
  // ANSI bytes that happen to form valid UTF-8 would be read back as UTF-8 and
  // come back as other characters; such a file is written as UTF-8 too.
  std::string bytes;
  bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
  *utf8 = !codec.FromUtf8(text, &bytes) || (!ascii && IsValidUtf8(bytes));
  if (*utf8) bytes = std::string(kUtf8Bom) + text;
  return bytes;
}

ExportSummary ExportListFile(std::string_view path, const ProxyList& list, ExportForm form,
                             bool selected_only, const AnsiCodec& codec) {
  ExportSummary s;
  std::string bytes = ExportListBytes(list, form, selected_only, codec, &s.count, &s.utf8);

  std::ofstream out(PathFromUtf8(path), std::ios::binary | std::ios::trunc);
  if (!out) {
    s.count = 0;
    s.message = OpenFailedText(path);
    s.caption = std::string(kMsgCaptionError);
    return s;
  }
  out.write(bytes.data(), std::streamsize(bytes.size()));
  out.close();
  if (!out) {
    // A full disk or a vanished drive must not be reported as a success.
    s.count = 0;
    s.message = Format("文件[%.*s]写入失败", int(path.size()), path.data());
    s.caption = std::string(kMsgCaptionError);
    return s;
  }
  s.ok = true;
  s.message = Format("成功保存ip服务器信息共%d条", s.count);
  s.caption = std::string(kMsgCaptionSaveResult);
  return s;
}

}  // namespace core
