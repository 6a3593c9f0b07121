#include "core/download/source_rows.h"

#include <unordered_map>
#include <utility>

#include "core/base/text.h"
#include "core/proxylist/proxy_line.h"

namespace core {
namespace {

std::string SourceValueName(int index) { return Format("Source_%03d", index); }

std::optional<int64_t> ReadSeconds(std::string_view text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  int64_t n = 0;
  for (char c : text) {
    if (!IsDigit(c)) return std::nullopt;
    n = n * 10 + (c - '0');
  }
  return n;
}

}  // namespace

SourceRowsChange ReplaceSourceRows(ProxyList& list, std::string_view url,
                                   const std::vector<ProviderEntry>& entries, bool favorite) {
  SourceRowsChange change;
  uint8_t source = list.SourceIdOf(url);
  ProxyList::Batch batch(list);
  std::vector<bool> in_answer(list.size());
  for (const ProviderEntry& e : entries) {
    ProxyLine parsed;
    if (!ParseProxyLine(e.line, &parsed)) continue;
    if (std::optional<size_t> at = list.IndexOfParsed(parsed)) {
      if (list.RowSource(*at) != source || source == 0) {
        ++change.elsewhere;
        continue;
      }
      // An expired row comes back only with a new expiry.
      if (list.RowExpired(*at) && !e.expires) continue;
      if (!in_answer[*at]) ++change.kept;
      in_answer[*at] = true;
      list.SetRowExpiry(*at, e.expires);
      continue;
    }
    if (list.AddParsed(parsed, favorite, LineOrigin::kOutside) != AddResult::kAdded) {
      ++change.refused;
      continue;
    }
    size_t row = list.size() - 1;
    list.SetRowSource(row, source);
    list.SetRowExpiry(row, e.expires);
    ++change.added;
  }
  // The link's rows the answer no longer names (its expired ones among them).
  std::vector<bool> gone(list.size());
  for (size_t i = 0; i < in_answer.size(); ++i) {
    gone[i] = source != 0 && !in_answer[i] && list.RowSource(i) == source;
  }
  change.removed = int(list.RemoveRowsAt(std::move(gone)));
  return change;
}

size_t RemoveExpiredSourceRows(ProxyList& list, std::string_view url) {
  if (!list.has_expiries()) return 0;
  uint8_t source = list.SourceIdOf(url);
  std::vector<bool> gone(list.size());
  for (size_t i = 0; i < list.size(); ++i) {
    gone[i] = source != 0 && list.RowSource(i) == source && list.RowExpired(i);
  }
  return list.RemoveRowsAt(std::move(gone));
}

void MarkSourceRows(ProxyList& list, size_t first, std::string_view url,
                    const std::vector<ProviderEntry>& entries) {
  uint8_t source = list.SourceIdOf(url);
  for (size_t i = first; i < list.size(); ++i) list.SetRowSource(i, source);
  for (const ProviderEntry& e : entries) {
    ProxyLine parsed;
    if (!e.expires || !ParseProxyLine(e.line, &parsed)) continue;
    std::optional<size_t> at = list.IndexOfParsed(parsed);
    if (at && *at >= first) list.SetRowExpiry(*at, e.expires);
  }
}

WriteStatus SaveSourceRows(const ProxyList& list, ProfileStore& store,
                           const std::function<bool(std::string_view url)>& keep) {
  // One text per link: its URL, then a line per row, "journal key<TAB>expiry".
  std::vector<std::string> texts;
  std::vector<size_t> rows;
  // -1: not looked at yet, -2: not kept.
  std::vector<int> slot_of(ProxyList::kMaxSources + 1, -1);
  for (size_t i = 0; i < list.size(); ++i) {
    uint8_t source = list.RowSource(i);
    if (source == 0 || slot_of[source] == -2) continue;
    if (slot_of[source] == -1) {
      if (!keep(list.SourceUrl(source))) {
        slot_of[source] = -2;
        continue;
      }
      slot_of[source] = int(texts.size());
      texts.emplace_back(list.SourceUrl(source));
      rows.push_back(0);
    }
    if (++rows[size_t(slot_of[source])] > kMaxSavedSourceRows) continue;
    std::string& text = texts[size_t(slot_of[source])];
    text += '\n';
    text += list.RowJournalKey(i);
    text += '\t';
    if (std::optional<int64_t> at = list.RowExpiry(i)) text += std::to_string(*at);
  }
  HeldSection held(store, kProxySourcesSection);
  int32_t old_count = store.ReadInt(kProxySourcesSection, "Count", 0);
  WriteStatus status;
  for (size_t n = 0; n < texts.size(); ++n) {
    status &= store.WriteText(kProxySourcesSection, SourceValueName(int(n)), texts[n]);
  }
  status &= store.WriteInt(kProxySourcesSection, "Count", int32_t(texts.size()));
  for (int32_t n = int32_t(texts.size()); n < old_count; ++n) {
    store.DeleteValue(kProxySourcesSection, SourceValueName(n)).Ignore();
  }
  return status;
}

void LoadSourceRows(ProxyList& list, ProfileStore& store) {
  int32_t count = store.ReadInt(kProxySourcesSection, "Count", 0);
  if (count <= 0 || list.empty()) return;
  struct Saved {
    uint8_t source = 0;
    std::optional<int64_t> expires;
  };
  std::unordered_map<std::string, Saved> saved;
  for (int32_t n = 0; n < count && n < int32_t(ProxyList::kMaxSources); ++n) {
    std::string text = store.ReadText(kProxySourcesSection, SourceValueName(n), "");
    size_t end = text.find('\n');
    uint8_t source = list.SourceIdOf(std::string_view(text).substr(0, end));
    while (source != 0 && end != std::string::npos) {
      size_t begin = end + 1;
      end = text.find('\n', begin);
      std::string_view line = std::string_view(text).substr(begin, end - begin);
      size_t tab = line.find('\t');
      if (tab == std::string_view::npos) continue;
      Saved& s = saved[std::string(line.substr(0, tab))];
      s.source = source;
      s.expires = ReadSeconds(line.substr(tab + 1));
    }
  }
  for (size_t i = 0; i < list.size() && !saved.empty(); ++i) {
    auto it = saved.find(list.RowJournalKey(i));
    if (it == saved.end()) continue;
    list.SetRowSource(i, it->second.source);
    list.SetRowExpiry(i, it->second.expires);
  }
}

std::string SourceRowsText(const SourceRowsChange& change, int bad_expiry) {
  std::string text =
      Format("短效IP：新增 %d，保留 %d，移除 %d", change.added, change.kept, change.removed);
  if (change.elsewhere > 0) text += Format("，列表中已有 %d", change.elsewhere);
  if (change.refused > 0) text += Format("，列表已满未加入 %d", change.refused);
  if (bad_expiry > 0) text += Format("；%d 个过期时间无法识别，按不过期处理", bad_expiry);
  return text;
}

}  // namespace core
