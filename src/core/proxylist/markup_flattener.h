// Markup flattening for the address extractor: any text, HTML or not, becomes
// plain text without tags, comments and style sheets, with character references
// decoded, odd blanks made plain and the structure of tables kept as mark
// characters. Pure function; any thread.
#pragma once

#include <string>
#include <string_view>

namespace core {

// Marks in flattened text. No input byte becomes one of them: other control
// bytes become line ends.
inline constexpr char kMarkupCell = '\x1F';   // a cell begins (<td>, <th>)
inline constexpr char kMarkupRow = '\x1E';    // a row begins or ends (<tr>, </tr>)
inline constexpr char kMarkupTable = '\x1D';  // a table begins or ends

// The flattened form of `text`. White space in it is only ' ', '\t' and '\n'
// (CR, VT, FF and stray control bytes become '\n'; no-break and ideographic
// spaces become ' '); a full-width colon becomes ':'. Tags become a blank,
// block-level ones a line end; script text is kept as it is. Unclosed tags and
// comments stay as text, so nothing after them is lost. Never longer than `text`;
// linear in its size.
std::string FlattenMarkup(std::string_view text);

}  // namespace core
