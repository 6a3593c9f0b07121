// List files: text files with one proxy line per line, read into the proxy list
// and written from it. A UTF-8 file (with a BOM, or mostly well-formed UTF-8)
// is read as UTF-8, anything else in the ANSI code page; export writes the ANSI code page when
// every character survives it, otherwise UTF-8 with a BOM. The procedures return
// the message the user is shown; the caller decides whether to show it. UI thread.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

#include "core/base/codepage.h"
#include "core/proxylist/proxy_list.h"

namespace core {

inline constexpr std::string_view kMsgCaptionError = "错误";
inline constexpr std::string_view kMsgCaptionAddResult = "添加结果";
inline constexpr std::string_view kMsgCaptionSaveResult = "保存结果";
inline constexpr std::string_view kMsgCaptionCannotDo = "无法完成操作";
inline constexpr std::string_view kMsgListEmpty = "ip列表是空的";

struct ImportSummary {
  bool ok = false;  // the file was read to its end and taken as a list file
  int lines = 0;    // non-empty lines
  int added = 0;
  int duplicates = 0;
  int errors = 0;
  int full = 0;  // new rows refused because the list was full (kMaxListRows)
  // Not a list file, but proxies were found in its text (a web page, a list
  // with schemes): how many, and how many of them carry a user name and
  // password. -1: the file was read as a list file.
  int found = -1;
  int with_login = 0;
  // Bytes of a UTF-8 file that belong to no character, read as U+FFFD.
  int replaced_bytes = 0;
  // keep was false and the file proved to hold proxies: the rows that were in
  // the list are gone.
  bool cleared = false;
  std::string message;  // what the user is told (summary or error)
  std::string caption;
};

// The most text the extractor reads of a file that is not a list file.
inline constexpr size_t kMaxExtractedTextBytes = 64u << 20;

// Imports `path` (UTF-8 file name). keep: rows already in the list stay; without
// it they are replaced once the first line proves the file a list file.
// favorite: the added rows are ticked. A file whose first non-empty line
// neither begins with a digit nor is a proxy URL is not a list file: the proxies found in its text
// (ExtractProxyLines) are added instead, and only when none is found is it
// refused. A file that cannot be opened or is refused leaves the list
// unchanged; so does a file without any non-empty line. `origin`: kUser for a
// file the user chose, kOutside for a downloaded one; proxies found in a text
// that is not a list file are always from outside (see LineOrigin).
// `untyped_as`: the type lines without one take (a SOCKS5 list's bare
// "ip:port" lines are SOCKS5 proxies); empty: they stay untyped.
ImportSummary ImportListFile(std::string_view path, ProxyList& list, bool keep, bool favorite,
                             const AnsiCodec& codec, LineOrigin origin = LineOrigin::kUser,
                             std::string_view untyped_as = {});

// The same over a stream that can be read twice (the encoding is decided
// first); `name` stands for the file in messages.
ImportSummary ImportListStream(std::istream& in, std::string_view name, ProxyList& list, bool keep,
                               bool favorite, const AnsiCodec& codec,
                               LineOrigin origin = LineOrigin::kUser,
                               std::string_view untyped_as = {});

// A file at least this large is imported away from the user-interface thread:
// ImportListFile into a list of its own on a worker thread, then
// FinishStagedImport on the UI thread.
inline constexpr uint64_t kStagedImportBytes = uint64_t{2} << 20;

// Moves the rows of `staged`, imported by ImportListFile with the same `keep`,
// into `list` (clearing it first when the import cleared its list) and gives
// the summary as if the import had been made into `list` itself.
ImportSummary FinishStagedImport(ImportSummary summary, ProxyList& staged, ProxyList& list,
                                 bool keep);

// kHostPort: "address:port"; kFullLine: "address:port@TYPE$location", for a
// row with a log-in its user name without the password
// (ProxyList::RowExportLine); kWithLogins: the full line, and for a row with a user name and
// password the line that carries them (ProxyList::RowLineWithLogin), always in
// UTF-8 with a BOM. A file of the last kind imports back with its log-ins.
enum class ExportForm { kHostPort, kFullLine, kWithLogins };

struct ExportSummary {
  bool ok = false;
  int count = 0;
  bool utf8 = false;  // written as UTF-8 with BOM because the ANSI code page could not hold it
  std::string message;
  std::string caption;
};

// The bytes of an export: every row (or only the selected ones) in list order,
// each line ended by CR LF. *count gets the number of lines, *utf8 whether the
// text had to be written as UTF-8 with a BOM.
std::string ExportListBytes(const ProxyList& list, ExportForm form, bool selected_only,
                            const AnsiCodec& codec, int* count, bool* utf8);

// Writes ExportListBytes to `path`; an existing file is replaced.
ExportSummary ExportListFile(std::string_view path, const ProxyList& list, ExportForm form,
                             bool selected_only, const AnsiCodec& codec);

}  // namespace core
