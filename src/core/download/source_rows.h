// The rows of a download link: a short-lived link's answer replaces the rows
// that link gave before (and only those), and which rows came from which link,
// with their expiries, is kept in the profile section "Proxy Sources" so that
// a restart still knows. UI thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/profile_store.h"
#include "core/download/provider_answer.h"
#include "core/proxylist/proxy_list.h"

namespace core {

inline constexpr std::string_view kProxySourcesSection = "Proxy Sources";

struct SourceRowsChange {
  int added = 0;      // new rows from the answer
  int kept = 0;       // the link's rows still in the answer (the row in use among them)
  int removed = 0;    // the link's rows no longer in it, expired ones included
  int elsewhere = 0;  // in the answer, but the list has them from elsewhere: left alone
  int refused = 0;    // the list could not take them (full)
};

// Puts `entries` (a short-lived link's answer) in place of the rows of `url`:
// rows of the link still in the answer stay where they are, with the answer's
// expiry (an expired row only with a new one); the link's other rows go; new ones are added from
// outside (never reserved), ticked when `favorite`, and marked as the link's. Rows of other links
// and the user's own rows are never touched.
SourceRowsChange ReplaceSourceRows(ProxyList& list, std::string_view url,
                                   const std::vector<ProviderEntry>& entries, bool favorite);

// Removes the rows of `url` that have expired (at the link's next answer);
// returns how many.
size_t RemoveExpiredSourceRows(ProxyList& list, std::string_view url);

// Marks the rows from `first` to the end as rows of `url`, with the expiries
// `entries` give them (found by duplicate key); for a link that is not
// short-lived, whose answer the import added.
void MarkSourceRows(ProxyList& list, size_t first, std::string_view url,
                    const std::vector<ProviderEntry>& entries);

// Writes the rows (journal keys and expiries) of every link `keep` names to
// "Proxy Sources", replacing what was there: the short-lived links, whose
// next answer must find their rows. At most kMaxSavedSourceRows a link.
inline constexpr size_t kMaxSavedSourceRows = 10000;
WriteStatus SaveSourceRows(const ProxyList& list, ProfileStore& store,
                           const std::function<bool(std::string_view url)>& keep);
// After the saved list is loaded: gives its rows their links and expiries back.
void LoadSourceRows(ProxyList& list, ProfileStore& store);

// The download summary's words for a refresh: "短效IP：新增 3，保留 5，移除 2".
std::string SourceRowsText(const SourceRowsChange& change, int bad_expiry);

}  // namespace core
