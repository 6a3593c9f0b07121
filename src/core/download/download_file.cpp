#include "core/download/download_file.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "core/base/text.h"

namespace core {
namespace {

// The speed of the first display is computed with this many milliseconds, and
// so is any display whose measured time is 0, so that nothing divides by zero.
constexpr uint32_t kMinElapsedMs = 10;

DownloadOutcome Failed(int result, std::string reason, uint64_t bytes = 0, std::string cause = {}) {
  return DownloadOutcome{result, std::move(reason), bytes, std::move(cause)};
}

std::string TooLargeText() {
  return Format("文件超过 %d MB，已停止下载", int(kMaxDownloadBytes >> 20));
}

std::string ProgressText(uint64_t received, uint64_t total, uint32_t elapsed_ms) {
  double speed = double(received) / (elapsed_ms * 0.001) / 1024;
  return Format("%d KB / %d KB @ %1.1f KB/s", int(received / 1024), int(total / 1024), speed);
}

std::string JoinFolder(std::string_view folder, std::string_view name) {
  std::string out(folder);
  if (!out.empty() && out.back() != '\\' && out.back() != '/') out += '\\';
  out += name;
  return out;
}

}  // namespace

std::string OpenFailureText(uint32_t code) {
  switch (code) {
    case 12007: return "找不到服务器（域名无法解析）";
    case 12029: return "服务器拒绝连接";
    case 12002: return "连接超时";
    case 12030:
    case 12031:
    case 12152: return "连接被服务器中断";
    case 12005:
    case 12006: return "网址无效";
    case 12157:
    case 12175: return "安全连接失败";
    default: return Format("错误代码 %u", unsigned(code));
  }
}

DownloadOutcome DownloadFile(UrlDownloader& downloader, FileWriter& files, Clock& clock,
                             std::string_view url, std::string_view path,
                             DownloadProgress* progress, const BodyCheck& check) {
  SessionFailure failure = SessionFailure::kNone;
  std::unique_ptr<UrlSession> session = downloader.OpenSession(&failure);
  if (!session) {
    return Failed(kDownloadNoInternet,
                  failure == SessionFailure::kModemBusy ? "调制解调器正忙" : "无法建立网络连接");
  }
  return FetchUrlToFile(*session, files, clock, url, path, progress, check);
}

DownloadOutcome FetchUrlToFile(UrlSession& session, FileWriter& files, Clock& clock,
                               std::string_view url, std::string_view path,
                               DownloadProgress* progress, const BodyCheck& check) {
  std::unique_ptr<UrlResponse> response = session.OpenUrl(url);
  if (!response) {
    std::string why = session.last_failure();
    return Failed(kDownloadOpenFailed,
                  "无法打开网址 " + std::string(url) + (why.empty() ? "" : "：" + why), 0,
                  why.empty() ? "无法打开网址" : why);
  }

  // An error page ("404 Not Found" begins with a digit) must never be taken
  // for a list; FTP has no status and reports 0.
  int status = response->status();
  if (status != 0 && (status < 200 || status > 299)) {
    return Failed(kDownloadOpenFailed, Format("服务器返回错误 (HTTP %d)", status));
  }

  std::optional<uint64_t> announced = response->content_length();
  if (announced && *announced > kMaxDownloadBytes) {
    return Failed(kDownloadReadFailed, TooLargeText());
  }
  uint64_t total = announced.value_or(0);

  std::unique_ptr<PendingFile> file = files.Begin(path);
  if (!file) return Failed(kDownloadFileFailed, "无法创建文件 " + std::string(path));

  std::vector<char> buffer(kDownloadChunkBytes);
  std::string body;  // kept only for `check`
  uint64_t received = 0;
  uint32_t elapsed_ms = kMinElapsedMs;
  const uint32_t start = clock.NowMs();
  for (;;) {
    ReadResult read = response->Read(buffer.data(), buffer.size());
    if (!read.ok) {
      return Failed(kDownloadReadFailed,
                    Format("接收数据时连接中断 (已收到 %d KB)", int(received / 1024)), received);
    }
    if (read.bytes == 0) break;
    size_t n = std::min(read.bytes, buffer.size());
    if (received + n > kMaxDownloadBytes) {
      return Failed(kDownloadReadFailed, TooLargeText(), received);
    }
    if (!file->Write(std::string_view(buffer.data(), n))) {
      return Failed(kDownloadFileFailed, "写入文件失败 " + std::string(path), received);
    }
    received += n;
    if (check) body.append(buffer.data(), n);
    if (progress) {
      // 64-bit arithmetic: a 32-bit received × 100 would wrap past 42 MB.
      if (total != 0) progress->OnPosition(int(std::min<uint64_t>(received * 100 / total, 100)));
      progress->OnText(ProgressText(received, total, elapsed_ms));
    }
    // Measured before the next read, so each display shows the time up to the
    // read that brought its chunk.
    elapsed_ms = clock.NowMs() - start;
    if (elapsed_ms == 0) elapsed_ms = kMinElapsedMs;
  }

  // A connection that closes early can look like a clean end of the body.
  if (announced && received < total) {
    return Failed(kDownloadReadFailed,
                  Format("数据不完整 (收到 %d 字节，应为 %d 字节)", int(received), int(total)),
                  received);
  }
  if (check) {
    // Refused before the commit: the previous file stays as it was.
    std::string refused = check(body);
    if (!refused.empty()) return Failed(kDownloadNotAList, std::move(refused), received);
  }
  if (!file->Commit())
    return Failed(kDownloadFileFailed, "无法写入文件 " + std::string(path), received);
  return DownloadOutcome{kDownloadOk, "", received};
}

std::string DownloadFilePath(std::string_view program_folder, std::string_view local_app_data,
                             const std::function<bool(std::string_view folder)>& writable) {
  if (writable(program_folder)) return JoinFolder(program_folder, kDownloadFileName);
  return JoinFolder(JoinFolder(local_app_data, "Relaymoth"), kDownloadFileName);
}

}  // namespace core
