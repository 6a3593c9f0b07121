#include "core/verify/verify_settings.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "core/base/settings_table.h"
#include "core/base/text.h"
#include "core/net/net_target.h"
#include "core/verify/site_url.h"

namespace core {
namespace {

constexpr std::string_view kFavoriteSite = "Favorite site";
constexpr std::string_view kUnfavoriteSite = "Unfavorite site";
// A damaged count cannot keep the start busy with billions of reads; the site
// list of a real profile is a handful of rows.
constexpr int32_t kMaxStoredSites = 1000;

constexpr int32_t kMinThreads = 1, kMaxThreads = 200;
constexpr int32_t kMinInterval = 0, kMaxInterval = 300;
constexpr int32_t kMinBest = 0, kMaxBest = 50;
constexpr int32_t kMinSeconds = 0, kMaxSeconds = 50;

// In the order they are written.
constexpr SettingField<VerifySettings> kVerifyFields[] = {
    {"Verify threads number", &VerifySettings::threads, 30, kMinThreads, kMaxThreads},
    {"Verify new proxy", &VerifySettings::verify_new_proxy, false},
    {"Reverify by time", &VerifySettings::reverify_by_time, true},
    {"Reverify interval", &VerifySettings::reverify_interval, 60, kMinInterval, kMaxInterval},
    // The rows combo's index: only its second entry (favorite rows) turns it on.
    {"Only verify favorite proxies", &VerifySettings::only_favorite_rows, false, /*only_one=*/true},
    {"Auto use the best proxy", &VerifySettings::auto_use_best, true},
    {"Auto delete failed proxies", &VerifySettings::auto_delete_failed, false},
    {"Reset favorite proxies with verify result", &VerifySettings::reset_favorites, true},
    {"Add best proxies", &VerifySettings::add_best, true},
    {"Number of best proxies", &VerifySettings::best_count, 8, kMinBest, kMaxBest},
    {"Add link time less than", &VerifySettings::add_link_time_less, false},
    {"Time less than", &VerifySettings::time_less_than, "4.5 seconds", kMinSeconds, kMaxSeconds,
     ParseSecondsText, FormatSecondsText},
    {"Only add selected types proxy", &VerifySettings::only_selected_types, true},
    {"Add HTTP proxies", &VerifySettings::add_http, true},
    {"Add Socks proxies", &VerifySettings::add_socks, true},
    {"Add FTP proxies", &VerifySettings::add_ftp, false},
    {"Detect the type of untyped proxies", &VerifySettings::detect_untyped_type, true},
    {"Connects in flight", &VerifySettings::connects_in_flight, kDefaultConnectsInFlight,
     kMinConnectsInFlight, kMaxConnectsInFlight},
};

std::string SiteKey(std::string_view group, int32_t index, std::string_view what) {
  return Format("%.*s_%03d_%.*s", int(group.size()), group.data(), int(index), int(what.size()),
                what.data());
}

// What a site's log-in value seals: the URL as the profile keeps it (so that
// the password never lands on another site), a line break, the password.
std::string SealedSiteText(std::string_view kept_url, std::string_view password) {
  std::string text(kept_url);
  text.append("\n").append(password);
  return text;
}

// The URL `kept_url` with the password sealed in `sealed` (base64) put back;
// nullopt when it does not open or belongs to another site.
std::optional<std::string> OpenSitePassword(std::string_view kept_url, std::string_view sealed,
                                            SecretCodec* codec) {
  std::optional<std::string> bytes = Base64Decode(sealed);
  if (!bytes || !codec) return std::nullopt;
  std::optional<std::string> text = codec->Unprotect(*bytes);
  std::string head = SealedSiteText(kept_url, "");
  if (!text || !text->starts_with(head) || text->size() == head.size()) return std::nullopt;
  return SiteUrlWithPassword(kept_url, std::string_view(*text).substr(head.size()));
}

void LoadSites(ProfileStore& store, std::string_view group, bool favorite, SecretCodec* codec,
               std::vector<VerifySite>* sites, int* lost) {
  int32_t count = std::min(store.ReadInt(kDestinationSitesSection, group, 0), kMaxStoredSites);
  for (int32_t i = 0; i < count; ++i) {
    VerifySite site;
    site.url =
        std::string(Trim(store.ReadText(kDestinationSitesSection, SiteKey(group, i, "URL"), "")));
    site.verify_string = std::string(
        Trim(store.ReadText(kDestinationSitesSection, SiteKey(group, i, "VerifyString"), "")));
    site.favorite = favorite;
    if (site.url.empty()) continue;
    std::string sealed =
        std::string(Trim(store.ReadText(kDestinationSitesSection, SiteKey(group, i, "Login"), "")));
    // A password still in the URL (an older profile) wins over a sealed one.
    std::string clear;
    SiteUrlWithoutPassword(site.url, &clear);
    if (!sealed.empty() && clear.empty()) {
      std::optional<std::string> opened = OpenSitePassword(site.url, sealed, codec);
      if (opened) {
        site.url = std::move(*opened);
      } else {
        ++*lost;
      }
    }
    sites->push_back(std::move(site));
  }
}

// The leading plain decimal number of `s` (sign, digits, point, digits); the
// number of characters it took is stored in `used`, 0 when there is none.
double LeadingDecimal(std::string_view s, size_t* used) {
  *used = 0;
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  size_t start = i;
  while (i < s.size() && IsDigit(s[i])) ++i;
  size_t int_digits = i - start;
  size_t frac_digits = 0;
  if (i < s.size() && s[i] == '.') {
    size_t j = i + 1;
    while (j < s.size() && IsDigit(s[j])) ++j;
    frac_digits = j - i - 1;
    if (int_digits + frac_digits > 0) i = j;
  }
  if (int_digits + frac_digits == 0) return 0;
  double value = 0;
  std::from_chars(s.data() + start, s.data() + i, value, std::chars_format::fixed);
  *used = i;
  return negative ? -value : value;
}

std::optional<double> ParseRealNumber(std::string_view text) {
  std::string_view s = Trim(text);
  size_t used = 0;
  double value = LeadingDecimal(s, &used);
  if (used == 0 || used != s.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::string Between(std::string_view what, std::string_view low, std::string_view high) {
  std::string text = Format("“请填入一个在%%1和%%2之间的%.*s。”", int(what.size()), what.data());
  text.replace(text.find("%1"), 2, low);
  text.replace(text.find("%2"), 2, high);
  return text;
}

std::optional<FieldError> CheckWhole(std::string_view text, VerifyField field, int32_t low,
                                     int32_t high, int32_t* out) {
  std::optional<int32_t> v = ParseWholeNumber(text);
  if (!v) return FieldError{field, "请键入一个整数。"};
  if (*v < low || *v > high) {
    return FieldError{field, Between("整数", std::to_string(low), std::to_string(high))};
  }
  *out = *v;
  return std::nullopt;
}

}  // namespace

int VerifySettings::FavoriteSiteCount() const {
  return int(
      std::count_if(sites.begin(), sites.end(), [](const VerifySite& s) { return s.favorite; }));
}

double ParseSecondsText(std::string_view text) {
  size_t used = 0;
  double value = LeadingDecimal(TrimLeft(text), &used);
  return std::isfinite(value) ? value : 0;
}

std::string FormatSecondsText(double seconds) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, seconds, std::chars_format::fixed, 6);
  if (ec != std::errc()) return "0.000000 seconds";
  return std::string(buf, end) + " seconds";
}

VerifySettings LoadVerifySettings(ProfileStore& store, SecretCodec* codec, LoadedSitesNote* note) {
  VerifySettings s;
  ReadFields(store, kVerifySettingsSection, kVerifyFields, &s);

  int lost = 0;
  LoadSites(store, kFavoriteSite, true, codec, &s.sites, &lost);
  LoadSites(store, kUnfavoriteSite, false, codec, &s.sites, &lost);
  if (note != nullptr) {
    note->passwords_lost = lost;
    note->message.clear();
    if (lost > 0) {
      note->message = Format(
          "%d个验证站点保存的密码无法读取（由其他Windows用户保存，或已损坏）。"
          "这些站点仍在列表中，但不再带密码，请在验证参数设置中重新填写。",
          lost);
    }
  }
  // The built-in site is seeded only into an empty list, and ticked: a first
  // start can verify at once, and a list whose sites the user unticked keeps
  // its shape instead of growing by one copy on every load.
  if (s.sites.empty()) {
    s.sites.push_back(
        VerifySite{std::string(kDefaultSiteUrl), std::string(kDefaultSiteVerifyString), true});
    // In force for this run either way; a refused write seeds it again at
    // the next start.
    SaveVerifySettings(s, store, codec).Ignore();
  }
  return s;
}

WriteStatus SaveVerifySettings(const VerifySettings& s, ProfileStore& store, SecretCodec* codec,
                               int* passwords_unsaved) {
  int unsaved = 0;
  WriteStatus ok = WriteFields(store, kVerifySettingsSection, kVerifyFields, s);

  int32_t favorites = 0;
  int32_t others = 0;
  for (const VerifySite& site : s.sites) {
    if (site.url.empty()) continue;
    std::string_view group = site.favorite ? kFavoriteSite : kUnfavoriteSite;
    int32_t& n = site.favorite ? favorites : others;
    std::string password;
    std::string kept_url = SiteUrlWithoutPassword(site.url, &password);
    std::optional<std::string> sealed;
    if (!password.empty() && codec) sealed = codec->Protect(SealedSiteText(kept_url, password));
    if (!password.empty() && !sealed) ++unsaved;
    ok &= store.WriteText(kDestinationSitesSection, SiteKey(group, n, "URL"), kept_url);
    ok &= store.WriteText(kDestinationSitesSection, SiteKey(group, n, "VerifyString"),
                          site.verify_string);
    // A site without a password leaves no sealed value behind, nor one of the
    // site an earlier save kept at this index.
    std::string login_key = SiteKey(group, n, "Login");
    ok &= sealed ? store.WriteText(kDestinationSitesSection, login_key, Base64Encode(*sealed))
                 : store.DeleteValue(kDestinationSitesSection, login_key);
    ++n;
  }
  if (passwords_unsaved != nullptr) *passwords_unsaved = unsaved;
  ok &= store.WriteInt(kDestinationSitesSection, kFavoriteSite, favorites);
  ok &= store.WriteInt(kDestinationSitesSection, kUnfavoriteSite, others);
  return ok;
}

std::optional<FieldError> ApplyVerifySettingsFields(const VerifySettingsFields& fields,
                                                    VerifySettings* settings) {
  VerifySettings next = *settings;
  if (auto e = CheckWhole(fields.threads, VerifyField::kThreads, kMinThreads, kMaxThreads,
                          &next.threads)) {
    return e;
  }
  if (auto e = CheckWhole(fields.connects_in_flight, VerifyField::kConnectsInFlight,
                          kMinConnectsInFlight, kMaxConnectsInFlight, &next.connects_in_flight)) {
    return e;
  }
  if (auto e = CheckWhole(fields.reverify_interval, VerifyField::kReverifyInterval, kMinInterval,
                          kMaxInterval, &next.reverify_interval)) {
    return e;
  }
  if (auto e = CheckWhole(fields.best_count, VerifyField::kBestCount, kMinBest, kMaxBest,
                          &next.best_count)) {
    return e;
  }
  std::optional<double> t = ParseRealNumber(fields.time_less_than);
  if (!t) return FieldError{VerifyField::kTimeLessThan, "请键入一个数。"};
  if (*t < kMinSeconds || *t > kMaxSeconds) {
    return FieldError{VerifyField::kTimeLessThan, Between("数字", "0", "50")};
  }
  next.time_less_than = *t;
  *settings = std::move(next);
  return std::nullopt;
}

}  // namespace core
