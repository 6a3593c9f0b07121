// The verify settings: the sixteen options of verification and the destination
// sites, their profile sections "Verify Settings" and "Destination Sites", and the
// checks the settings dialog runs on confirmation. A site's URL is kept without
// its password; the password is kept apart, sealed for the current user by a
// SecretCodec together with the URL it belongs to ("Favorite site_000_Login", the
// sealed bytes in base64), so that it opens only for that site. The settings dialog owns one
// VerifySettings; the scheduler and the end-of-run rules read it. UI thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/profile_store.h"
#include "core/base/secret_codec.h"
#include "core/verify/connect_gate.h"

namespace core {

inline constexpr std::string_view kVerifySettingsSection = "Verify Settings";
inline constexpr std::string_view kDestinationSitesSection = "Destination Sites";
// The built-in destination site: seeded, ticked, when the site list is empty.
// Its verify string is not part of its URL, so a proxy's error page that quotes
// the requested address does not pass for the page; the page has carried this
// text for many years.
// https: a proxy that answers every request with a page of its own cannot pass
// it (the page comes through a tunnel with the site's certificate).
inline constexpr std::string_view kDefaultSiteUrl = "https://example.com/";
inline constexpr std::string_view kDefaultSiteVerifyString = "Example Domain";

struct VerifySite {
  std::string url;  // with its log-in, password included, as typed
  std::string verify_string;
  bool favorite = false;
};

struct VerifySettings {
  int32_t threads = 30;              // "Verify threads number", 1..200
  bool verify_new_proxy = false;     // "Verify new proxy"
  bool reverify_by_time = true;      // "Reverify by time"
  int32_t reverify_interval = 60;    // "Reverify interval", minutes, 0..300
  bool only_favorite_rows = false;  // "Only verify favorite proxies": combo entry 1 "常用ip"
  bool auto_use_best = true;         // "Auto use the best proxy"
  bool auto_delete_failed = false;   // "Auto delete failed proxies"
  bool reset_favorites = true;      // "Reset favorite proxies with verify result"
  bool add_best = true;              // "Add best proxies"
  int32_t best_count = 8;            // "Number of best proxies", 0..50
  bool add_link_time_less = false;   // "Add link time less than"
  double time_less_than = 4.5;       // "Time less than", seconds, 0..50
  bool only_selected_types = true;   // "Only add selected types proxy"
  bool add_http = true;              // "Add HTTP proxies"
  bool add_socks = true;             // "Add Socks proxies"
  bool add_ftp = false;              // "Add FTP proxies"
  // "Connects in flight": proxies whose TCP connection is checked at once ahead
  // of the workers, 1..10000.
  int32_t connects_in_flight = kDefaultConnectsInFlight;
  // "Detect the type of untyped proxies" (未标类型的代理自动识别类型): a row without
  // a type is asked in HTTP, SOCKS5 and SOCKS4 at once before its sites are
  // tested, and takes the protocol it answers in.
  bool detect_untyped_type = true;

  std::vector<VerifySite> sites;  // display order

  int FavoriteSiteCount() const;
};

// What a load could not bring back.
struct LoadedSitesNote {
  // Sites whose sealed password could not be opened (sealed by another user,
  // damaged, or sealed for another site): they are in the list without it.
  int passwords_lost = 0;
  std::string message;  // for the user; empty when nothing was lost
};

// Reads both sections; missing values give the defaults, values outside their
// ranges are brought into them. Sites are trimmed, rows with an empty URL are
// dropped, favorites come first. A site's password comes back through `codec`;
// one still in its URL (an older profile) is taken as it is and sealed at the
// next save. When no site is left the default site is added, ticked, and the
// sections are saved at once. `note`, when given, says what was lost.
VerifySettings LoadVerifySettings(ProfileStore& store, SecretCodec* codec = nullptr,
                                  LoadedSitesNote* note = nullptr);

// Writes both sections; every value is tried. Fails with the first refusal.
// Without a codec, or when it cannot seal one, a site is saved without its
// password; *passwords_unsaved counts those sites.
WriteStatus SaveVerifySettings(const VerifySettings& settings, ProfileStore& store,
                               SecretCodec* codec = nullptr, int* passwords_unsaved = nullptr);

// The leading decimal number of a stored "Time less than" text ("4.500000
// seconds" → 4.5); 0 when the text does not begin with one.
double ParseSecondsText(std::string_view text);
// "%f seconds", always with a decimal point.
std::string FormatSecondsText(double seconds);

// The texts of the settings dialog's four number fields, as typed.
struct VerifySettingsFields {
  std::string threads;            // IDC_THREADS
  std::string reverify_interval;  // IDC_REVERIFY_INTERVAL
  std::string best_count;         // IDC_BEST_COUNT
  std::string time_less_than;     // IDC_TIME_LESS_THAN
  std::string connects_in_flight = std::to_string(kDefaultConnectsInFlight);  // IDC_CONNECTS_IN_FLIGHT
};

enum class VerifyField { kThreads, kReverifyInterval, kBestCount, kTimeLessThan, kConnectsInFlight };

struct FieldError {
  VerifyField field;    // gets the focus
  std::string message;  // shown in a message box
};

// Checks the fields in dialog order and stores them into `settings` when all
// pass. On the first failure returns it and leaves `settings` unchanged.
std::optional<FieldError> ApplyVerifySettingsFields(const VerifySettingsFields& fields,
                                                    VerifySettings* settings);

}  // namespace core
