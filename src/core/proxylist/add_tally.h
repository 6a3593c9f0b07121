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

  // Counts one ProxyList::AddProxy result.
  void Count(AddResult result);

  // "<what>共N条，其中" followed by the three counts, right-aligned in three places.
  std::string Summary(std::string_view what) const;
};

// The summary of proxies found in a text that is not a list (a web page, a
// list with schemes): "<where>不是ip数据列表，从中找到N个代理地址", the counts,
// and how many were left out for carrying a user name and password.
std::string ExtractedSummary(const AddTally& tally, std::string_view where, int credentials);

}  // namespace core
