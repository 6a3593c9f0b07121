// The download settings: the list URLs offered in the settings dialog's combo
// box, the configured URL that automatic downloads fetch, the automatic download
// switches and the two import options, with their profile section "Download
// Settings" and the check the dialog runs on "确定". The settings dialog owns one
// DownloadSettings; the schedule and the download's end read it. UI thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/profile_store.h"

namespace core {

inline constexpr std::string_view kDownloadSettingsSection = "Download Settings";

// The configured URL until the user sets another: the list automatic downloads
// fetch (checked hourly by its maintainer), through the same CDN.
inline constexpr std::string_view kDefaultListUrl =
    "https://cdn.jsdelivr.net/gh/monosans/proxy-list@main/proxies/http.txt";
// The combo box's first entries, in this order, before anything is loaded. A
// built-in source is fetched from several mirrors (see list_sources.h).
inline constexpr std::string_view kTemplateListUrls[] = {
    "https://raw.githubusercontent.com/TheSpeedX/PROXY-List/master/http.txt",
    "https://raw.githubusercontent.com/monosans/proxy-list/main/proxies/http.txt",
    "https://cdn.jsdelivr.net/gh/TheSpeedX/PROXY-List@master/http.txt",
    // The same publishers' SOCKS lists: their rows arrive as SOCKS4 or SOCKS5.
    "https://cdn.jsdelivr.net/gh/TheSpeedX/PROXY-List@master/socks4.txt",
    "https://cdn.jsdelivr.net/gh/TheSpeedX/PROXY-List@master/socks5.txt",
    "https://cdn.jsdelivr.net/gh/monosans/proxy-list@main/proxies/socks4.txt",
    "https://cdn.jsdelivr.net/gh/monosans/proxy-list@main/proxies/socks5.txt",
};

inline constexpr int32_t kMaxDownloadIntervalHours = 2400;
// How often the short-lived links ("短效IP") are fetched again, in seconds.
inline constexpr int32_t kMinRefreshSeconds = 10;
inline constexpr int32_t kMaxRefreshSeconds = 86400;
inline constexpr int32_t kDefaultRefreshSeconds = 60;

struct DownloadSettings {
  // The combo box's entries in list order; starts with kTemplateListUrls.
  std::vector<std::string> urls{std::begin(kTemplateListUrls), std::end(kTemplateListUrls)};
  std::string url;                 // "Proxy File List URL": the configured list URL
  bool download_at_start = false;  // "Auto download Proxy List when start"; also the hourly switch
  int32_t interval_hours = 0;      // "Auto download interval", 0..2400
  bool add_as_favorite = false;    // "Add to favorite after download"
  bool keep_existing = true;       // "Append download proxies into list"
  int32_t other_url_count = 0;     // URLs the last load added, or the last save wrote
  // The links ticked "短效IP": a provider's short-lived proxies, fetched again
  // every refresh_seconds, each answer replacing the link's rows. Stored per
  // URL beside its numbered key.
  std::vector<std::string> short_lived;
  int32_t refresh_seconds = kDefaultRefreshSeconds;  // "Short-lived refresh seconds"

  // The index of the combo entry equal to `url` (ASCII case ignored), or -1
  // when none is: the entry the combo box selects.
  int SelectedUrlIndex() const;
  // Appends `url` to the combo entries unless it is blank or already there
  // (ASCII case ignored). Returns whether it was appended.
  bool OfferUrl(std::string_view url);
  // Whether `url` is ticked "短效IP" (trimmed, ASCII case ignored).
  bool IsShortLived(std::string_view url) const;
  void SetShortLived(std::string_view url, bool on);
};

// The URL "<< 下载IP数据列表" fetches: the list URL "下载参数设置…" shows, or the
// default list when it is blank.
std::string_view ButtonDownloadUrl(const DownloadSettings& settings);

// Loads the section into `settings` (at dialog creation and on "取消"): values
// are trimmed, missing ones take their defaults, the interval is brought into
// 0..2400. The configured URL and the numbered URLs join the combo entries
// unless blank or already there; the entries already held are kept.
void LoadDownloadSettings(ProfileStore& store, DownloadSettings* settings);

// Writes the section: the configured URL and the five options, then every
// non-blank combo entry under "Proxy File List URL (NN)" from 00 up with its
// "短效IP" tick under "Proxy File List URL (NN) short-lived", and their count.
// Sets other_url_count. Every value is tried; fails with the first refusal.
WriteStatus SaveDownloadSettings(ProfileStore& store, DownloadSettings* settings);

// The dialog's controls, as the user left them.
struct DownloadSettingsFields {
  std::string url;       // IDC_LIST_URL's text
  std::string interval;  // IDC_DOWNLOAD_INTERVAL
  bool download_at_start = false;
  bool add_as_favorite = false;
  bool keep_existing = true;
  bool short_lived = false;            // IDC_SHORT_LIVED, for the URL above
  std::string refresh_seconds = "60";  // IDC_REFRESH_SECONDS
};

// The check of "确定": the interval must be a whole number from 0 to 2400, the
// refresh of short-lived links one from 10 to 86400 seconds.
// On failure returns the message to show (the focus goes to the field at fault,
// *bad_field: IDC_DOWNLOAD_INTERVAL 0, IDC_REFRESH_SECONDS 1) and
// leaves `settings` unchanged; otherwise stores the fields, with the URL
// trimmed and offered to the combo entries. The caller then saves.
std::optional<std::string> ApplyDownloadSettingsFields(const DownloadSettingsFields& fields,
                                                       DownloadSettings* settings,
                                                       int* bad_field = nullptr);

}  // namespace core
