#include "core/download/download_settings.h"

#include <algorithm>

#include "core/base/settings_table.h"
#include "core/base/text.h"

namespace core {
namespace {

// In the order they are written.
constexpr SettingField<DownloadSettings> kDownloadFields[] = {
    {"Proxy File List URL", &DownloadSettings::url, kDefaultListUrl},
    {"Auto download Proxy List when start", &DownloadSettings::download_at_start, false},
    {"Auto download interval", &DownloadSettings::interval_hours, 0, 0, kMaxDownloadIntervalHours},
    {"Add to favorite after download", &DownloadSettings::add_as_favorite, false},
    {"Append download proxies into list", &DownloadSettings::keep_existing, true},
    {"Short-lived refresh seconds", &DownloadSettings::refresh_seconds, kDefaultRefreshSeconds,
     kMinRefreshSeconds, kMaxRefreshSeconds},
};
constexpr std::string_view kCountKey = "Number of other Proxy File List URL";
// A damaged count cannot keep the start busy with billions of reads; a real
// profile holds a handful of URLs.
constexpr int32_t kMaxStoredUrls = 1000;

std::string NumberedUrlKey(int32_t index) {
  return Format("Proxy File List URL (%02d)", int(index));
}

std::string ShortLivedKey(int32_t index) { return NumberedUrlKey(index) + " short-lived"; }

}  // namespace

int DownloadSettings::SelectedUrlIndex() const {
  // An exact match, not the first entry that merely begins with the URL: a
  // longer URL listed earlier would otherwise be selected and, on the next
  // "确定", silently become the configured one.
  for (size_t i = 0; i < urls.size(); ++i) {
    if (EqualsIgnoreAsciiCase(urls[i], url)) return int(i);
  }
  return -1;
}

bool DownloadSettings::OfferUrl(std::string_view candidate) {
  std::string_view u = Trim(candidate);
  if (u.empty()) return false;
  for (const std::string& have : urls) {
    if (EqualsIgnoreAsciiCase(have, u)) return false;
  }
  urls.emplace_back(u);
  return true;
}

bool DownloadSettings::IsShortLived(std::string_view candidate) const {
  std::string_view u = Trim(candidate);
  return std::any_of(short_lived.begin(), short_lived.end(),
                     [&](const std::string& have) { return EqualsIgnoreAsciiCase(have, u); });
}

void DownloadSettings::SetShortLived(std::string_view candidate, bool on) {
  std::string_view u = Trim(candidate);
  if (u.empty() || IsShortLived(u) == on) return;
  if (on) {
    short_lived.emplace_back(u);
  } else {
    std::erase_if(short_lived,
                  [&](const std::string& have) { return EqualsIgnoreAsciiCase(have, u); });
  }
}

std::string_view ButtonDownloadUrl(const DownloadSettings& settings) {
  std::string_view url = Trim(settings.url);
  return url.empty() ? kDefaultListUrl : url;
}

void LoadDownloadSettings(ProfileStore& store, DownloadSettings* s) {
  const std::string_view sec = kDownloadSettingsSection;
  ReadFields(store, sec, kDownloadFields, s);
  s->OfferUrl(s->url);

  int32_t count = std::min(store.ReadInt(sec, kCountKey, 0), kMaxStoredUrls);
  int32_t added = 0;
  s->short_lived.clear();
  for (int32_t i = 0; i < count; ++i) {
    std::string url = store.ReadText(sec, NumberedUrlKey(i), "");
    if (s->OfferUrl(url)) ++added;
    if (store.ReadInt(sec, ShortLivedKey(i), 0) == 1) s->SetShortLived(url, true);
  }
  s->other_url_count = added;
}

WriteStatus SaveDownloadSettings(ProfileStore& store, DownloadSettings* s) {
  const std::string_view sec = kDownloadSettingsSection;
  s->url = std::string(Trim(s->url));
  WriteStatus ok = WriteFields(store, sec, kDownloadFields, *s);
  int32_t count = 0;
  for (const std::string& entry : s->urls) {
    std::string_view u = Trim(entry);
    if (u.empty()) continue;
    ok &= store.WriteText(sec, NumberedUrlKey(count), u);
    ok &= store.WriteInt(sec, ShortLivedKey(count), s->IsShortLived(u) ? 1 : 0);
    ++count;
  }
  s->other_url_count = count;
  ok &= store.WriteInt(sec, kCountKey, count);
  return ok;
}

std::optional<std::string> ApplyDownloadSettingsFields(const DownloadSettingsFields& fields,
                                                       DownloadSettings* s, int* bad_field) {
  auto check = [&](std::string_view text, int32_t lo, int32_t hi,
                   int field) -> std::optional<std::string> {
    std::optional<int32_t> v = ParseWholeNumber(text);
    if (v && *v >= lo && *v <= hi) return std::nullopt;
    if (bad_field) *bad_field = field;
    if (!v) return "请键入一个整数。";
    return Format("“请填入一个在%d和%d之间的整数。”", int(lo), int(hi));
  };
  if (auto bad = check(fields.interval, 0, kMaxDownloadIntervalHours, 0)) return bad;
  const std::string& refresh = fields.refresh_seconds;
  if (auto bad = check(refresh, kMinRefreshSeconds, kMaxRefreshSeconds, 1)) return bad;
  std::optional<int32_t> interval = ParseWholeNumber(fields.interval);
  // Trimmed before it is offered, so that " http://x/ " and "http://x/" do
  // not become two entries.
  s->url = std::string(Trim(fields.url));
  s->OfferUrl(s->url);
  s->interval_hours = *interval;
  s->download_at_start = fields.download_at_start;
  s->add_as_favorite = fields.add_as_favorite;
  s->keep_existing = fields.keep_existing;
  s->refresh_seconds = *ParseWholeNumber(refresh);
  s->SetShortLived(s->url, fields.short_lived);
  return std::nullopt;
}

}  // namespace core
