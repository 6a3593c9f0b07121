// The built-in list sources: public proxy lists kept on GitHub and served by a
// CDN. Each source is one file of one publisher with the type of its bare
// "ip:port" lines, and is reached through several mirrors tried in order, so
// that a host blocked in mainland China does not stop the download. Pure
// functions; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/download/download_file.h"
#include "core/download/file_writer.h"
#include "core/download/url_downloader.h"

namespace core {

// One published list file: "owner/repository", the branch and the path.
struct ListSource {
  std::string_view repository;
  std::string_view branch;
  std::string_view path;
  std::string_view type;  // the type of its untyped lines; empty: none
};

inline constexpr ListSource kListSources[] = {
    {"TheSpeedX/PROXY-List", "master", "http.txt", ""},
    {"TheSpeedX/PROXY-List", "master", "socks4.txt", "SOCKS4"},
    {"TheSpeedX/PROXY-List", "master", "socks5.txt", "SOCKS5"},
    {"monosans/proxy-list", "main", "proxies/http.txt", ""},
    {"monosans/proxy-list", "main", "proxies/socks4.txt", "SOCKS4"},
    {"monosans/proxy-list", "main", "proxies/socks5.txt", "SOCKS5"},
};

// The built-in source that `url` names in any of its mirror forms (letter case
// of the scheme and host aside), or null.
const ListSource* FindListSource(std::string_view url);

// The URLs to try for `url`, in order: for a built-in source the CDN's mirror
// host names that reach mainland China ("fastly.", "testingcf."), then the
// CDN's usual name, then the raw GitHub address; any other URL alone.
std::vector<std::string> MirrorUrls(std::string_view url);

// The type a downloaded list's untyped lines take: the source's, or empty.
std::string_view ListSourceType(std::string_view url);

// Downloads `urls` in turn into `path` until one gives a whole list that
// `check` (when given) takes (see DownloadFile): a mirror that answers with a
// web page is passed over like one that cannot be reached. Before each mirror
// the progress says which host is tried. When every mirror failed, the result
// is the last one's and the reason lists what each host answered, one line each.
DownloadOutcome DownloadFromMirrors(UrlDownloader& downloader, FileWriter& files, Clock& clock,
                                    const std::vector<std::string>& urls, std::string_view path,
                                    DownloadProgress* progress, const BodyCheck& check = {});

}  // namespace core
