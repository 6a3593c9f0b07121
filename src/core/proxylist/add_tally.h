// Counts the results of adding many proxy lines at once (an imported file, a
// drop) and writes the summary the user is shown. Any thread.
#pragma once

#include <string>
#include <string_view>

#include "core/proxylist/proxy_list.h"

namespace core {

struct AddTally {
  int total = 0;
  int added = 0;
  int duplicates = 0;
  int errors = 0;
  int full = 0;  // new rows refused because the list held kMaxListRows

  // Counts one ProxyList::AddProxy result.
  void Count(AddResult result);

  // "<what>共N条，其中" followed by the three counts, right-aligned in three places,
  // and a line with the rows the full list refused when there were any.
  std::string Summary(std::string_view what) const;
};

// "列表已满（最多1000000条）": what the user is told when the list refuses rows.
std::string ListFullText();

// The summary of proxies found in a text that is not a list (a web page, a
// list with schemes): "<where>不是ip数据列表，从中找到N个代理地址", the counts,
// and how many of the proxies found carry a user name and password.
std::string ExtractedSummary(const AddTally& tally, std::string_view where, int with_login);

}  // namespace core
