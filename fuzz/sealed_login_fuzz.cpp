// Fuzzes the readers of sealed log-ins in the profile: the list's rows with
// their "ProxyLogin_NNN" values and the verification sites with their
// "…_Login" values. Each input line is one profile value, its first letter
// saying which:
//   f / u  a favorite / other list row          l  a list log-in value as stored
//   s      a site URL (ticked)                   p  a site log-in value as stored
//   L      a list log-in: "f12 " or "u3 ", then the text to seal
//   P      a site log-in: the text to seal
//   j      a journal entry of the list, as stored ("A u - 1.2.3.4:80", "R …")
//   J      a journal entry adding a row: "f|u <text to seal> <line>"
// (L and P seal their text with the test codec, a tab standing for a line
// break, so that the readers get past the seal). Nothing may crash, every
// note must match its count, and the sites must read back unchanged after a
// save with the codec.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/base/profile_store.h"
#include "core/base/secret_codec_testing.h"
#include "core/base/text.h"
#include "core/net/net_target.h"
#include "core/proxylist/list_profile.h"
#include "core/proxylist/proxy_list.h"
#include "core/verify/verify_settings.h"

namespace {

constexpr std::string_view kList = core::kProxyListSection;
constexpr std::string_view kSites = core::kDestinationSitesSection;

std::string Sealed(core::SecretCodec& codec, std::string_view text) {
  std::string lines(text);
  for (char& c : lines) c = c == '\t' ? '\n' : c;
  return core::Base64Encode(codec.Protect(lines).value_or(""));
}

bool SameSites(const core::VerifySettings& a, const core::VerifySettings& b) {
  if (a.sites.size() != b.sites.size()) return false;
  for (size_t i = 0; i < a.sites.size(); ++i) {
    if (a.sites[i].url != b.sites[i].url || a.sites[i].verify_string != b.sites[i].verify_string ||
        a.sites[i].favorite != b.sites[i].favorite) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  core::XorSecretCodec codec;
  core::MemoryProfileStore store;
  int favorites = 0, others = 0, logins = 0, sites = 0, site_logins = 0, journal = 0;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  while (!input.empty()) {
    size_t end = input.find('\n');
    std::string_view line = input.substr(0, end);
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    if (line.empty()) continue;
    std::string_view value = line.substr(1);
    switch (line[0]) {
      case 'f':
        store.WriteText(kList, core::FavoriteValueName(favorites++), value).Ignore();
        break;
      case 'u':
        store.WriteText(kList, core::UnfavoriteValueName(others++), value).Ignore();
        break;
      case 'l':
      case 'L': {
        std::string text(value);
        size_t blank = value.find(' ');
        if (line[0] == 'L' && blank != std::string_view::npos) {
          text = std::string(value.substr(0, blank + 1)) + Sealed(codec, value.substr(blank + 1));
        }
        store.WriteText(kList, core::Format("ProxyLogin_%03d", logins++), text).Ignore();
        break;
      }
      case 'j':
      case 'J': {
        std::string text(value);
        size_t blank = value.find(' ', 2);
        if (line[0] == 'J' && value.size() > 2 && blank != std::string_view::npos) {
          text = "A " + std::string(value.substr(0, 2)) +
                 Sealed(codec, value.substr(2, blank - 2)) + std::string(value.substr(blank));
        }
        store.WriteText(kList, core::Format("Journal_%03d", journal++), text).Ignore();
        break;
      }
      case 's':
        store.WriteText(kSites, core::Format("Favorite site_%03d_URL", sites++), value).Ignore();
        break;
      case 'p':
      case 'P': {
        std::string text = line[0] == 'P' ? Sealed(codec, value) : std::string(value);
        store.WriteText(kSites, core::Format("Favorite site_%03d_Login", site_logins++), text)
            .Ignore();
        break;
      }
      default:
        break;
    }
  }
  store.WriteInt(kList, "FavoriteProxy", favorites).Ignore();
  store.WriteInt(kList, "UnfavoriteProxy", others).Ignore();
  store.WriteInt(kList, "ProxyLogins", logins).Ignore();
  store.WriteInt(kList, "JournalEnd", journal).Ignore();
  store.WriteInt(kSites, "Favorite site", sites).Ignore();

  core::ProxyList list;
  core::LoadedListNote list_note = core::LoadSavedList(list, store, &codec);
  if (list_note.logins_lost < 0 || list_note.message.empty() != (list_note.logins_lost == 0)) {
    std::abort();
  }

  core::LoadedSitesNote note;
  core::VerifySettings loaded = core::LoadVerifySettings(store, &codec, &note);
  if (note.passwords_lost < 0 || note.message.empty() != (note.passwords_lost == 0)) std::abort();
  // What came back is saved sealed and comes back whole, with nothing lost.
  core::MemoryProfileStore again;
  int unsaved = -1;
  if (!core::SaveVerifySettings(loaded, again, &codec, &unsaved) || unsaved != 0) std::abort();
  core::LoadedSitesNote second;
  if (!SameSites(loaded, core::LoadVerifySettings(again, &codec, &second)) ||
      second.passwords_lost != 0) {
    std::abort();
  }
  return 0;
}
