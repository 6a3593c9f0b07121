#include "core/proxylist/markup_flattener.h"

#include <array>
#include <cstdint>

#include "core/base/codepage.h"
#include "core/base/text.h"

namespace core {
namespace {


// Bytes the flattener must look at; every other byte is copied as it is.
constexpr std::array<bool, 256> MakeSpecialBytes(bool markup) {
  std::array<bool, 256> t{};
  for (int c = 0; c < 0x20; ++c) t[c] = c != '\t' && c != '\n';
  t[0x7F] = true;
  t[0xC2] = t[0xE3] = t[0xEF] = true;  // lead bytes of blanks and the full-width colon
  if (markup) t['<'] = t['&'] = true;
  return t;
}
constexpr std::array<bool, 256> kSpecialInText = MakeSpecialBytes(true);
constexpr std::array<bool, 256> kSpecialInScript = MakeSpecialBytes(false);

enum class TagKind { kInline, kBlock, kCell, kRow, kTable, kScript, kStyle };

TagKind KindOfTag(std::string_view name) {
  if (name == "td" || name == "th") return TagKind::kCell;
  if (name == "tr") return TagKind::kRow;
  if (name == "table") return TagKind::kTable;
  if (name == "script") return TagKind::kScript;
  if (name == "style") return TagKind::kStyle;
  static constexpr std::string_view kBlocks[] = {
      "br",     "p",     "div",     "li",    "ul",         "ol",     "dl",      "dt",      "dd",
      "h1",     "h2",    "h3",      "h4",    "h5",         "h6",     "pre",     "hr",      "tbody",
      "thead",  "tfoot", "caption", "form",  "textarea",   "option", "section", "article", "header",
      "footer", "nav",   "main",    "aside", "blockquote", "title",  "body",    "head",    "html"};
  for (std::string_view b : kBlocks) {
    if (name == b) return TagKind::kBlock;
  }
  return TagKind::kInline;
}

// Named character references a proxy page plausibly uses around addresses.
struct NamedRef {
  std::string_view name;
  char32_t cp;
};
constexpr NamedRef kNamedRefs[] = {
    {"nbsp", 0xA0}, {"amp", '&'},      {"lt", '<'},      {"gt", '>'},      {"quot", '"'},
    {"apos", '\''}, {"colon", ':'},    {"period", '.'},  {"sol", '/'},     {"commat", '@'},
    {"Tab", '\t'},  {"NewLine", '\n'}, {"ensp", 0x2002}, {"emsp", 0x2003}, {"thinsp", 0x2009},
};

class Flattener {
 public:
  explicit Flattener(std::string_view in) : in_(in) { out_.reserve(in.size()); }

  std::string Run() {
    size_t p = 0;
    while (p < in_.size()) {
      p = CopyRun(p, in_.size(), kSpecialInText);
      if (p >= in_.size()) break;
      if (in_[p] == '<') {
        p = Tag(p);
      } else if (in_[p] == '&') {
        p = Reference(p);
      } else {
        p = Special(p);
      }
    }
    return std::move(out_);
  }

 private:
  // Copies bytes up to the next one `special` names (or `end`); returns its position.
  size_t CopyRun(size_t p, size_t end, const std::array<bool, 256>& special) {
    size_t q = p;
    while (q < end && !special[static_cast<unsigned char>(in_[q])]) ++q;
    out_.append(in_.data() + p, q - p);
    return q;
  }

  // Script text: '<' and '&' are plain there; only the byte-level fixes apply.
  void CopyScript(size_t p, size_t end) {
    while ((p = CopyRun(p, end, kSpecialInScript)) < end) p = Special(p);
  }

  // A control byte or the lead byte of a sequence that may be a blank or a colon.
  size_t Special(size_t p) {
    unsigned char c = static_cast<unsigned char>(in_[p]);
    if (c == '\r' || c == '\v' || c == '\f') {
      out_ += '\n';
      return p + 1;
    }
    if (c < 0x20 || c == 0x7F) {
      // Binary junk separates like a line end: nothing pairs across it, and no
      // input byte can pose as a table mark.
      out_ += '\n';
      return p + 1;
    }
    std::string_view rest = in_.substr(p);
    if (rest.starts_with("\xC2\xA0")) {  // no-break space
      out_ += ' ';
      return p + 2;
    }
    if (rest.starts_with("\xE3\x80\x80") ||
        rest.starts_with("\xEF\xBB\xBF")) {  // ideographic space, BOM
      out_ += ' ';
      return p + 3;
    }
    if (rest.starts_with("\xEF\xBC\x9A")) {  // full-width colon, as Chinese posts write "ip：port"
      out_ += ':';
      return p + 3;
    }
    out_ += char(c);
    return p + 1;
  }

  void EmitCodePoint(char32_t cp) {
    if (cp == '\t') {
      out_ += '\t';
    } else if (cp < 0x20 || cp == 0x7F) {
      out_ += '\n';  // as for raw control bytes
    } else if (cp == 0xA0 || cp == 0x3000 || cp == 0xFEFF || (cp >= 0x2000 && cp <= 0x200B) ||
               cp == 0x202F || cp == 0x205F || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
      out_ += ' ';
    } else if (cp == 0xFF1A) {
      out_ += ':';
    } else if (cp < 0x80) {
      out_ += char(cp);
    } else {
      AppendUtf8(cp, out_);
    }
  }

  // "&name;", "&#58;" or "&#x3a;" at p; anything else is a literal ampersand.
  size_t Reference(size_t p) {
    size_t q = p + 1;
    if (q < in_.size() && in_[q] == '#') {
      ++q;
      bool hex = q < in_.size() && (in_[q] == 'x' || in_[q] == 'X');
      if (hex) ++q;
      size_t digits_at = q;
      uint32_t cp = 0;
      while (q < in_.size() && q - digits_at < 8) {
        char c = in_[q];
        int v = IsDigit(c)                      ? c - '0'
                : (hex && c >= 'a' && c <= 'f') ? c - 'a' + 10
                : (hex && c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                : -1;
        if (v < 0) break;
        cp = cp * (hex ? 16 : 10) + uint32_t(v);
        ++q;
      }
      if (q == digits_at) {
        out_ += '&';
        return p + 1;
      }
      if (q < in_.size() && in_[q] == ';') ++q;
      EmitCodePoint(cp);
      return q;
    }
    size_t name_at = q;
    while (q < in_.size() && q - name_at < 8 && IsAsciiAlpha(in_[q])) ++q;
    std::string_view name = in_.substr(name_at, q - name_at);
    bool semicolon = q < in_.size() && in_[q] == ';';
    for (const NamedRef& r : kNamedRefs) {
      // Old pages leave the semicolon off the common five; browsers accept that.
      if (name == r.name && (semicolon || r.cp == 0xA0 || r.cp < 0x80)) {
        EmitCodePoint(r.cp);
        return semicolon ? q + 1 : q;
      }
    }
    out_ += '&';
    return p + 1;
  }

  // Position of the first `needle` at or after `from`, npos when there is none.
  // `cache` remembers the last answer, so repeated searches (many '<' without a
  // '>') stay linear over the whole text.
  size_t FindCached(std::string_view needle, size_t from, size_t* cache) {
    if (*cache == kUnsearched || (*cache != std::string_view::npos && *cache < from)) {
      *cache = in_.find(needle, from);
    }
    return *cache;
  }

  // Position of "</name" (any case) at or after `from`, npos when there is none.
  size_t FindClosing(std::string_view name, size_t from, size_t* cache) {
    if (*cache != kUnsearched && (*cache == std::string_view::npos || *cache >= from)) {
      return *cache;
    }
    size_t p = from;
    while ((p = in_.find("</", p)) != std::string_view::npos) {
      if (StartsWithIgnoreAsciiCase(in_, name, p + 2)) break;
      p += 2;
    }
    *cache = p;
    return p;
  }

  size_t Tag(size_t p) {
    std::string_view rest = in_.substr(p);
    if (rest.starts_with("<!--")) {
      size_t end = FindCached("-->", p + 4, &comment_end_);
      if (end == std::string_view::npos) return Literal(p);
      out_ += ' ';
      return end + 3;
    }
    bool closing = rest.size() > 1 && rest[1] == '/';
    size_t name_at = p + (closing ? 2 : 1);
    bool declaration = !closing && rest.size() > 1 && (rest[1] == '!' || rest[1] == '?');
    if (!declaration && (name_at >= in_.size() || !IsAsciiAlpha(in_[name_at]))) {
      return Literal(p);  // "a < b", "<1.2.3.4>": not markup
    }
    size_t gt = FindCached(">", name_at, &next_gt_);
    if (gt == std::string_view::npos) return Literal(p);

    char name[12];
    size_t len = 0;
    size_t q = name_at;
    for (; q < gt && len < sizeof name && IsAsciiAlnum(in_[q]); ++q)
      name[len++] = AsciiLower(in_[q]);
    // "<td-x>" or a name longer than any we know is some other element.
    bool whole_name = q == gt || in_[q] == '/' || IsSpace(in_[q]);
    TagKind kind =
        declaration || !whole_name ? TagKind::kInline : KindOfTag(std::string_view(name, len));
    size_t next = gt + 1;
    switch (kind) {
      case TagKind::kInline:
        out_ += ' ';  // never glue the text on both sides into one number
        break;
      case TagKind::kBlock:
        out_ += '\n';
        break;
      case TagKind::kCell:
        out_ += closing ? ' ' : kMarkupCell;
        break;
      case TagKind::kRow:
        out_ += kMarkupRow;
        break;
      case TagKind::kTable:
        out_ += kMarkupTable;
        break;
      case TagKind::kScript:
      case TagKind::kStyle: {
        out_ += ' ';
        if (closing) break;
        // Raw text up to the closing tag: scripts may carry the data of the page
        // as JSON, so their text is read (without markup); style sheets are not.
        size_t* cache = kind == TagKind::kScript ? &script_end_ : &style_end_;
        size_t end = FindClosing(kind == TagKind::kScript ? "script" : "style", next, cache);
        if (end == std::string_view::npos) end = in_.size();
        if (kind == TagKind::kScript) CopyScript(next, end);
        next = end;
        break;
      }
    }
    return next;
  }

  size_t Literal(size_t p) {
    out_ += in_[p];
    return p + 1;
  }

  static constexpr size_t kUnsearched = std::string_view::npos - 1;

  std::string_view in_;
  std::string out_;
  size_t next_gt_ = kUnsearched;
  size_t comment_end_ = kUnsearched;
  size_t script_end_ = kUnsearched;
  size_t style_end_ = kUnsearched;
};

}  // namespace

std::string FlattenMarkup(std::string_view text) { return Flattener(text).Run(); }

}  // namespace core
