#include "core/net/http_head.h"

#include <cstring>

#include "core/base/text.h"

namespace core {

size_t FindHeadEnd(std::string_view bytes, size_t from) {
  // Back up far enough to see a terminator split across the previous search's end.
  size_t i = from > 3 ? from - 3 : 0;
  for (; i < bytes.size(); ++i) {
    if (bytes[i] != '\n') continue;
    if (i + 1 < bytes.size() && bytes[i + 1] == '\n') return i + 2;
    if (i + 2 < bytes.size() && bytes[i + 1] == '\r' && bytes[i + 2] == '\n') return i + 3;
  }
  return std::string_view::npos;
}

bool IsHttpTokenChar(char c) {
  return IsAsciiAlnum(c) || (c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr);
}

bool ParseHttpHead(std::string_view head, HttpHead* out) {
  *out = HttpHead{};
  bool first = true;
  while (!head.empty()) {
    size_t lf = head.find('\n');
    if (lf == std::string_view::npos) return false;  // not a complete head
    std::string_view line = head.substr(0, lf);
    head.remove_prefix(lf + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find('\r') != std::string_view::npos || line.find('\0') != std::string_view::npos) {
      return false;
    }
    if (first) {
      if (line.empty()) return false;
      out->start_line = line;
      first = false;
      continue;
    }
    if (line.empty()) return head.empty();                          // the blank line ends the head
    if (line.front() == ' ' || line.front() == '\t') return false;  // obsolete folding
    size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    std::string_view name = line.substr(0, colon);
    for (char c : name) {
      if (!IsHttpTokenChar(c)) return false;
    }
    out->fields.push_back({name, Trim(line.substr(colon + 1))});
  }
  return false;
}

int ParseStatusLine(std::string_view line) {
  if (line.size() < 12 || !StartsWithIgnoreAsciiCase(line, "HTTP/1.") || !IsDigit(line[7]) ||
      line[8] != ' ') {
    return -1;
  }
  std::string_view code = line.substr(9, 3);
  for (char c : code) {
    if (!IsDigit(c)) return -1;
  }
  if (line.size() > 12 && line[12] != ' ') return -1;
  int status = (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
  return status >= 100 ? status : -1;
}

}  // namespace core
