#include "core/download/download_done.h"

#include <algorithm>
#include <fstream>

#include "core/base/file_path.h"
#include "core/base/text.h"
#include "core/download/list_sources.h"
#include "core/proxylist/add_tally.h"

namespace core {
namespace {

// The first `limit` bytes of the answer as the download left it ("" when it
// cannot be read: the import then says so).
std::string ReadAnswer(std::string_view path, size_t limit) {
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  std::string body;
  char chunk[65536];
  while (in && body.size() < limit) {
    in.read(chunk, std::streamsize(std::min(sizeof(chunk), limit - body.size())));
    body.append(chunk, size_t(in.gcount()));
  }
  return body;
}

void Fail(DownloadDoneAction& action, bool report, std::string_view reason) {
  if (!report) return;
  action.message = std::string(kMsgDownloadFailed);
  if (!reason.empty()) {
    action.message += '\n';
    action.message += reason;
  }
  action.caption = std::string(kMsgCaptionError);
}

// A JSON or table answer of a link that is not short-lived: added as a list
// file's lines would be.
void AddAnswer(const ProviderAnswer& answer, std::string_view url, const DownloadSettings& settings,
               ProxyList& list, DownloadDoneAction& action) {
  ProxyList::Batch batch(list);
  RemoveExpiredSourceRows(list, url);
  if (!settings.keep_existing) {
    list.RemoveAll();
    action.import.cleared = true;
  }
  size_t first = list.size();
  AddTally tally;
  for (const ProviderEntry& e : answer.entries) {
    tally.Count(list.AddProxy(e.line, settings.add_as_favorite, LineOrigin::kOutside));
  }
  MarkSourceRows(list, first, url, answer.entries);
  action.sources_changed = true;
  ImportSummary& s = action.import;
  s.ok = true;
  s.lines = s.found = tally.total;
  s.added = tally.added;
  s.duplicates = tally.duplicates;
  s.errors = tally.errors;
  s.full = tally.full;
  s.with_login = answer.with_login;
  s.caption = std::string(kMsgCaptionAddResult);
  s.message = tally.Summary("ip服务器信息");
}

}  // namespace

DownloadDoneAction HandleDownloadDone(const DownloadOutcome& outcome, bool report,
                                      std::string_view url, std::string_view path,
                                      const DownloadSettings& settings, ProxyList& list,
                                      const AnsiCodec& codec, AnswerTime now) {
  DownloadDoneAction action;
  if (outcome.result != kDownloadOk) {
    Fail(action, report, outcome.reason);
    return action;
  }
  const bool short_lived = settings.IsShortLived(url);
  std::optional<std::string> body;
  // The first lines tell JSON and tables from a list file.
  if (short_lived || IsStructuredAnswer(ReadAnswer(path, 4096))) {
    body = ReadAnswer(path, kMaxDownloadBytes);
  }
  if (body) {
    ProviderAnswer answer = ParseProviderAnswer(*body, now);
    if (answer.kind != ProviderAnswer::Kind::kList) {
      Fail(action, report, answer.message);
      return action;
    }
    action.imported = true;
    if (short_lived) {
      action.refresh = ReplaceSourceRows(list, url, answer.entries, settings.add_as_favorite);
      action.sources_changed = true;
      action.import.ok = true;
      action.import.added = action.refresh.added;
      action.import.caption = std::string(kMsgCaptionAddResult);
      action.import.message = SourceRowsText(action.refresh, answer.bad_expiry);
    } else {
      AddAnswer(answer, url, settings, list, action);
      if (answer.bad_expiry > 0) {
        action.import.message += Format("\n%d 个过期时间无法识别，按不过期处理", answer.bad_expiry);
      }
    }
  } else {
    action.imported = true;
    RemoveExpiredSourceRows(list, url);
    size_t before = list.size();
    // A downloaded list is not the user's: it cannot make a row reserved.
    // A SOCKS list's bare lines are SOCKS proxies.
    action.import = ImportListFile(path, list, settings.keep_existing, settings.add_as_favorite,
                                   codec, LineOrigin::kOutside, ListSourceType(url));
    if (action.import.ok) {
      MarkSourceRows(list, action.import.cleared ? 0 : before, url, {});
      action.sources_changed = true;
    }
  }
  if (report) {
    action.message = action.import.message;
    action.caption = action.import.caption;
  }
  return action;
}

}  // namespace core
