// HTTP/1.x message heads as the proxy protocols read them: where a head ends within
// the bytes received, its start line and header fields, and the status line of a
// reply. Views point into the caller's bytes. Pure functions; any thread.
#pragma once

#include <string_view>
#include <vector>

namespace core {

// Request heads the relay reads and reply heads the client reads stop here.
inline constexpr size_t kMaxHttpHead = 16 * 1024;

// The index just past the blank line that ends the head in `bytes` ("\r\n\r\n", or
// "\n\n" from a sender that ends lines with LF alone); npos while incomplete. The search
// starts near `from` (the size already searched) so that feeding a byte at a time stays
// linear.
size_t FindHeadEnd(std::string_view bytes, size_t from = 0);

struct HttpHeaderField {
  std::string_view name;
  std::string_view value;  // blanks around it removed
};

struct HttpHead {
  std::string_view start_line;
  std::vector<HttpHeaderField> fields;
};

// Splits a complete head (ending with its blank line) into the start line and header
// fields, lines ending in CRLF or LF. Returns false for an empty start line, a field
// line without ":" or with a name that is not an HTTP token, a folded continuation
// line, and any NUL or lone CR.
bool ParseHttpHead(std::string_view head, HttpHead* out);

// The status of "HTTP/1.x SSS [reason]"; -1 when the line is not a status line.
int ParseStatusLine(std::string_view line);

// Whether `c` may appear in an HTTP token (a method or a field name).
bool IsHttpTokenChar(char c);

}  // namespace core
