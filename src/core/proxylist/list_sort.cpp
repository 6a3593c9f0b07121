#include "core/proxylist/list_sort.h"

#include <algorithm>
#include <numeric>

#include "core/proxylist/natural_compare.h"

namespace core {

std::vector<size_t> ScoreSortOrder(const std::vector<int32_t>& scores, int flag) {
  const size_t n = scores.size();
  std::vector<size_t> order;
  order.reserve(n);
  if (flag == 1) {
    // Verified rows, best first; a row goes in front of the first earlier row
    // whose score is not higher, so equal scores end up later row first. A row
    // never verified never moves, but every verified row jumps in front of it.
    for (size_t i = 0; i < n; ++i) {
      if (scores[i] >= 0) order.push_back(i);
    }
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
      if (scores[a] != scores[b]) return scores[a] > scores[b];
      return a > b;
    });
    for (size_t i = 0; i < n; ++i) {
      if (scores[i] < 0) order.push_back(i);
    }
    return order;
  }

  // Ascending: a verified row goes in front of the first earlier verified row
  // with a higher score, i.e. right behind the never-verified rows that follow
  // the row before it. A never-verified row stays where it was reached: at the
  // end of the rows so far, which is right behind the latest row with the highest
  // score so far. So each never-verified row is glued behind one verified row
  // (or to the very front when no verified row came before it).
  constexpr size_t kFront = SIZE_MAX;
  std::vector<size_t> glued_to(n, kFront);  // for never-verified rows
  size_t last_max = kFront;                 // row that currently ends the list
  std::vector<size_t> verified;
  for (size_t i = 0; i < n; ++i) {
    if (scores[i] < 0) {
      glued_to[i] = last_max;
    } else {
      verified.push_back(i);
      if (last_max == kFront || scores[i] >= scores[last_max]) last_max = i;
    }
  }
  std::stable_sort(verified.begin(), verified.end(),
                   [&](size_t a, size_t b) { return scores[a] < scores[b]; });
  // Never-verified rows behind each verified row, in their original order.
  std::vector<std::vector<size_t>> tails(n);
  std::vector<size_t> front;
  for (size_t i = 0; i < n; ++i) {
    if (scores[i] >= 0) continue;
    if (glued_to[i] == kFront) {
      front.push_back(i);
    } else {
      tails[glued_to[i]].push_back(i);
    }
  }
  order = front;
  for (size_t v : verified) {
    order.push_back(v);
    order.insert(order.end(), tails[v].begin(), tails[v].end());
  }
  return order;
}

namespace {

int CompareKeys(const SortKey& a, const SortKey& b) {
  if (a.ranked && b.ranked) return a.rank < b.rank ? -1 : (a.rank > b.rank ? 1 : 0);
  return CompareNaturalBytes(a.text, b.text);
}

}  // namespace

std::vector<size_t> KeyedSortOrder(const std::vector<SortKey>& keys, int flag) {
  std::vector<size_t> order(keys.size());
  std::iota(order.begin(), order.end(), size_t{0});
  if (flag == 1) {
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return CompareKeys(keys[a], keys[b]) < 0; });
  } else {
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
      int c = CompareKeys(keys[a], keys[b]);
      if (c != 0) return c > 0;
      return a > b;
    });
  }
  return order;
}

bool DottedAddressRank(std::string_view text, uint64_t* rank) {
  uint64_t packed = 0;
  for (int octet = 0; octet < 4; ++octet) {
    if (octet > 0) {
      if (text.empty() || text.front() != '.') return false;
      text.remove_prefix(1);
    }
    size_t digits = 0;
    uint64_t value = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
      value = value * 10 + uint64_t(text[digits] - '0');
      if (++digits > 5) return false;
    }
    if (digits == 0 || value > 0xFFFF) return false;
    packed = packed << 16 | value;
    text.remove_prefix(digits);
  }
  if (!text.empty()) return false;
  *rank = packed;
  return true;
}

std::vector<uint64_t> NaturalRanks(const std::vector<std::string>& texts) {
  std::vector<size_t> order(texts.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::sort(order.begin(), order.end(),
            [&](size_t a, size_t b) { return CompareNaturalBytes(texts[a], texts[b]) < 0; });
  std::vector<uint64_t> ranks(texts.size());
  uint64_t rank = 0;
  for (size_t i = 0; i < order.size(); ++i) {
    if (i > 0 && CompareNaturalBytes(texts[order[i - 1]], texts[order[i]]) != 0) ++rank;
    ranks[order[i]] = rank;
  }
  return ranks;
}

std::vector<size_t> TextSortOrder(const std::vector<std::string>& keys, int flag) {
  std::vector<size_t> order(keys.size());
  std::iota(order.begin(), order.end(), size_t{0});
  if (flag == 1) {
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
      return CompareNaturalBytes(keys[a], keys[b]) < 0;
    });
  } else {
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
      int c = CompareNaturalBytes(keys[a], keys[b]);
      if (c != 0) return c > 0;
      return a > b;
    });
  }
  return order;
}

}  // namespace core
