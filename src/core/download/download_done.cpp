#include "core/download/download_done.h"

#include "core/download/list_sources.h"

namespace core {

DownloadDoneAction HandleDownloadDone(const DownloadOutcome& outcome, bool report,
                                      std::string_view url, std::string_view path,
                                      const DownloadSettings& settings,
                                      ProxyList& list, const AnsiCodec& codec) {
  DownloadDoneAction action;
  if (outcome.result != kDownloadOk) {
    if (report) {
      action.message = std::string(kMsgDownloadFailed);
      if (!outcome.reason.empty()) action.message += "\n" + outcome.reason;
      action.caption = std::string(kMsgCaptionError);
    }
    return action;
  }
  action.imported = true;
  // A downloaded list is not the user's: it cannot make a row reserved.
  // A SOCKS list's bare lines are SOCKS proxies.
  action.import = ImportListFile(path, list, settings.keep_existing, settings.add_as_favorite,
                                 codec, LineOrigin::kOutside, ListSourceType(url));
  if (report) {
    action.message = action.import.message;
    action.caption = action.import.caption;
  }
  return action;
}

}  // namespace core
