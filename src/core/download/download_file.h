// The list download: fetches one URL into "Download.txt" over the UrlDownloader
// seam, chunk by chunk, reporting progress texts, and ends with one result code.
// A failed, refused or partial transfer never replaces the previous file. Runs
// on the download's own thread; the progress observer is called on it too.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/base/clock.h"
#include "core/download/file_writer.h"
#include "core/download/url_downloader.h"

namespace core {

// The result code of a download.
enum DownloadResult : int {
  kDownloadOk = 0,          // the whole body was received and is in place
  kDownloadOpenFailed = 1,  // the URL could not be opened, or the server answered with an error
  kDownloadFileFailed = 2,  // the file could not be created, written or put in place
  kDownloadReadFailed = 3,  // the body did not arrive whole (read failure, cut short, too large)
  kDownloadNoInternet = 4,  // the modem is busy or no Internet session could be opened
  kDownloadNotAList = 5,    // the body came whole but is no proxy list (a web page, a
                            // provider's error, nothing at all)
};

inline constexpr std::string_view kDownloadFileName = "Download.txt";
inline constexpr size_t kDownloadChunkBytes = 16384;
// No proxy list comes near this; an endless response must not fill the disk
// (nor the memory: a body that is checked is held whole).
inline constexpr uint64_t kMaxDownloadBytes = uint64_t{10} << 20;
// A whole download, from opening the connection to the last byte, gets this
// long: a server that accepts and never answers, or trickles, must not hold
// the one download for ever (a list of a few MB over a slow line takes a
// minute). Each read also has its own time-out.
inline constexpr uint32_t kDownloadDeadlineMs = 5 * 60 * 1000;

struct DownloadOutcome {
  int result = kDownloadOk;
  std::string reason;  // what went wrong, in words for the user; empty on success
  uint64_t bytes = 0;  // body bytes received
  // The reason in a few words without the URL ("服务器拒绝连接"), for a line
  // per host; empty when it is the reason itself.
  std::string cause = {};
};

// Looks at a whole body before it replaces the file: the reason it is not
// taken (no proxy list in it, a provider's error), or "" to take it. Called on
// the download's thread.
using BodyCheck = std::function<std::string(std::string_view body)>;

// Receives the progress of one download.
class DownloadProgress {
 public:
  virtual ~DownloadProgress() = default;
  // After every chunk: "%d KB / %d KB @ %1.1f KB/s" (received, announced length
  // or 0 when unknown, speed).
  virtual void OnText(std::string_view text) = 0;
  // After every chunk, only when the length is known: 0..100.
  virtual void OnPosition(int percent) = 0;
};

// Opens a session and fetches `url` into `path` (UTF-8). kDownloadNoInternet
// when no session could be opened; otherwise what FetchUrlToFile returns.
// `progress` may be null.
DownloadOutcome DownloadFile(UrlDownloader& downloader, FileWriter& files, Clock& clock,
                             std::string_view url, std::string_view path,
                             DownloadProgress* progress, const BodyCheck& check = {});

// Fetches `url` into `path` over an open session. Only a complete 2xx (or
// non-HTTP) body of at most kMaxDownloadBytes, as long as announced, replaces
// the file; every other ending leaves it as it was:
//   kDownloadOpenFailed  the URL cannot be opened or the status is not 2xx
//   kDownloadFileFailed  the file cannot be created, written or put in place
//   kDownloadReadFailed  a read failed, the body ended short of its announced
//                        length, or it grew past kMaxDownloadBytes
//   kDownloadNotAList    `check` (when given) refused the whole body
DownloadOutcome FetchUrlToFile(UrlSession& session, FileWriter& files, Clock& clock,
                               std::string_view url, std::string_view path,
                               DownloadProgress* progress, const BodyCheck& check = {});

// Where "Download.txt" goes: the program's folder when `writable` says it can be
// written there, else the "Relaymoth" folder inside the user's local
// application-data folder (which the caller creates). Folders may end in a
// separator or not; the result uses "\" as the Windows shell expects.
std::string DownloadFilePath(std::string_view program_folder, std::string_view local_app_data,
                             const std::function<bool(std::string_view folder)>& writable);

}  // namespace core
