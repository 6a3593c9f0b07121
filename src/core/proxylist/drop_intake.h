// Text dropped onto the floating window: every non-blank line is offered to the
// list as a general (unticked) entry from outside (never reserved), and the user
// is told how it went. Pure over the list; UI thread.
#pragma once

#include <string>
#include <string_view>

#include "core/proxylist/add_tally.h"
#include "core/proxylist/proxy_list.h"

namespace core {

struct DropSummary : AddTally {
  // Not one line was a proxy line and proxies were found in the text: how many
  // of them carry a user name and password. -1: read as lines.
  int with_login = -1;
  std::string message;  // "拖动进来的代理共%d条，其中…"
  std::string caption;  // "添加结果"
};

// Splits `text` at line feeds, trims each line (a CR goes with the blanks) and
// adds the non-empty ones. Dropped text has no first-line test. When not one
// line is a proxy line, the proxies found in the text (ExtractProxyLines) are
// added instead, if there are any.
DropSummary AddDroppedText(ProxyList& list, std::string_view text);

// Moves the rows of `staged`, filled by AddDroppedText on a worker thread, into
// `list` and gives the summary as if the text had been dropped on `list`.
DropSummary FinishStagedDrop(DropSummary summary, ProxyList& staged, ProxyList& list);

}  // namespace core
