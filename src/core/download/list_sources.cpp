#include "core/download/list_sources.h"

#include "core/base/text.h"

namespace core {
namespace {

// The mirror forms of one source, in the order they are tried.
std::vector<std::string> FormsOf(const ListSource& s) {
  std::string gh = std::string(s.repository) + "@" + std::string(s.branch) + "/" +
                   std::string(s.path);
  return {
      "https://fastly.jsdelivr.net/gh/" + gh,
      "https://testingcf.jsdelivr.net/gh/" + gh,
      "https://cdn.jsdelivr.net/gh/" + gh,
      "https://raw.githubusercontent.com/" + std::string(s.repository) + "/" +
          std::string(s.branch) + "/" + std::string(s.path),
  };
}

// The host of a URL, for the progress and the error lines.
std::string_view HostOf(std::string_view url) {
  size_t sep = url.find("://");
  std::string_view rest = sep == std::string_view::npos ? url : url.substr(sep + 3);
  return rest.substr(0, rest.find('/'));
}

// The URL with its scheme and host in lower case (they are case-blind; the
// path is not).
std::string Normalized(std::string_view url) {
  std::string out(Trim(url));
  size_t sep = out.find("://");
  size_t end = sep == std::string::npos ? 0 : out.find('/', sep + 3);
  if (end == std::string::npos) end = out.size();
  for (size_t i = 0; i < end; ++i) out[i] = AsciiLower(out[i]);
  return out;
}

}  // namespace

const ListSource* FindListSource(std::string_view url) {
  std::string wanted = Normalized(url);
  for (const ListSource& s : kListSources) {
    for (const std::string& form : FormsOf(s)) {
      if (wanted == Normalized(form)) return &s;
    }
  }
  return nullptr;
}

std::vector<std::string> MirrorUrls(std::string_view url) {
  if (const ListSource* s = FindListSource(url)) return FormsOf(*s);
  return {std::string(Trim(url))};
}

std::string_view ListSourceType(std::string_view url) {
  const ListSource* s = FindListSource(url);
  return s ? s->type : std::string_view();
}

DownloadOutcome DownloadFromMirrors(UrlDownloader& downloader, FileWriter& files, Clock& clock,
                                    const std::vector<std::string>& urls, std::string_view path,
                                    DownloadProgress* progress, const BodyCheck& check) {
  DownloadOutcome last{kDownloadOpenFailed, "没有可下载的网址"};
  std::string answers;
  for (const std::string& url : urls) {
    if (progress != nullptr && urls.size() > 1) {
      progress->OnText("正在连接 " + std::string(HostOf(url)) + " ...");
    }
    last = DownloadFile(downloader, files, clock, url, path, progress, check);
    if (last.result == kDownloadOk) return last;
    if (!answers.empty()) answers += '\n';
    answers += std::string(HostOf(url)) + ": " + (last.cause.empty() ? last.reason : last.cause);
  }
  if (urls.size() > 1) last.reason = answers;
  return last;
}

}  // namespace core
