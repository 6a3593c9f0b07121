// The end of a list download, as the program's list downloads handle it on the
// UI thread: a complete download is imported into the proxy list with the
// download settings in force; a failed one imports nothing and, when the user
// started it, says why. Pure decision over the list; the caller shows messages.
#pragma once

#include <string>
#include <string_view>

#include "core/base/codepage.h"
#include "core/download/download_file.h"
#include "core/download/download_settings.h"
#include "core/download/provider_answer.h"
#include "core/download/source_rows.h"
#include "core/proxylist/list_file.h"
#include "core/proxylist/proxy_list.h"

namespace core {

inline constexpr std::string_view kMsgDownloadFailed = "下载中发生错误";

struct DownloadDoneAction {
  bool imported = false;  // the file was handed to the import
  ImportSummary import;   // its outcome, when imported
  // The message box to show; empty when nothing is shown (every automatic
  // download, and a user-started one only reports what the import reports).
  std::string message;
  std::string caption;
  // Rows were marked with their link, or a short-lived link's rows replaced:
  // the caller saves the rows' links (SaveSourceRows).
  bool sources_changed = false;
  SourceRowsChange refresh;  // a short-lived link's change, when it was one
};

// `outcome` is the download's; `report` is true for a user-started download;
// `url` is the list it fetched (a built-in source gives its untyped lines its
// type); `path` is the file the download wrote; `now` reads the answer's expiries.
// On success:
// - a short-lived link's answer (ParseProviderAnswer) replaces the link's rows
//   (ReplaceSourceRows), whatever "Append download proxies into list" says;
// - a JSON or table answer is read the same way and added as a list file would
//   be, its rows keeping their expiry;
// - any other file is imported (ImportListFile);
// each with favorite = "Add to favorite after download", the new rows marked
// as the link's. An answer without proxies (a provider's error, a web page)
// changes nothing and says why. On a failure the list is not touched.
DownloadDoneAction HandleDownloadDone(const DownloadOutcome& outcome, bool report,
                                      std::string_view url, std::string_view path,
                                      const DownloadSettings& settings, ProxyList& list,
                                      const AnsiCodec& codec, AnswerTime now);

}  // namespace core
