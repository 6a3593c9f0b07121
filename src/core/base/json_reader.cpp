#include "core/base/json_reader.h"

#include "core/base/codepage.h"

namespace core {
namespace {

constexpr int kMaxDepth = 64;

class Parser {
 public:
  explicit Parser(std::string_view text) : s_(text) {}

  bool Document(JsonValue* out) {
    SkipBlanks();
    if (!Value(out, 0)) return false;
    SkipBlanks();
    return pos_ == s_.size() || Fail("text after the document");
  }

  std::string error;

 private:
  bool Fail(const char* what) {
    if (error.empty()) error = std::string(what) + " at byte " + std::to_string(pos_);
    return false;
  }
  void SkipBlanks() {
    while (pos_ < s_.size() &&
           (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r')) {
      ++pos_;
    }
  }
  bool Eat(char c) {
    SkipBlanks();
    if (pos_ < s_.size() && s_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool Literal(std::string_view word) {
    if (s_.substr(pos_, word.size()) != word) return Fail("unknown literal");
    pos_ += word.size();
    return true;
  }

  bool Value(JsonValue* out, int depth) {
    if (depth >= kMaxDepth) return Fail("nesting too deep");
    SkipBlanks();
    if (pos_ >= s_.size()) return Fail("unexpected end");
    const char c = s_[pos_];
    if (c == '{') return Object(out, depth);
    if (c == '[') return Array(out, depth);
    if (c == '"') {
      out->kind = JsonValue::Kind::kString;
      return String(&out->text);
    }
    if (c == 't' || c == 'f') {
      out->kind = JsonValue::Kind::kBool;
      out->boolean = c == 't';
      return Literal(c == 't' ? "true" : "false");
    }
    if (c == 'n') return Literal("null");
    return Number(out);
  }

  bool Object(JsonValue* out, int depth) {
    out->kind = JsonValue::Kind::kObject;
    ++pos_;
    if (Eat('}')) return true;
    do {
      SkipBlanks();
      std::string key;
      if (pos_ >= s_.size() || s_[pos_] != '"' || !String(&key)) return Fail("expected a key");
      if (!Eat(':')) return Fail("expected ':'");
      JsonValue value;
      if (!Value(&value, depth + 1)) return false;
      out->members.push_back(JsonMember{std::move(key), std::move(value)});
    } while (Eat(','));
    return Eat('}') || Fail("expected '}'");
  }

  bool Array(JsonValue* out, int depth) {
    out->kind = JsonValue::Kind::kArray;
    ++pos_;
    if (Eat(']')) return true;
    do {
      JsonValue value;
      if (!Value(&value, depth + 1)) return false;
      out->items.push_back(std::move(value));
    } while (Eat(','));
    return Eat(']') || Fail("expected ']'");
  }

  bool Number(JsonValue* out) {
    const size_t start = pos_;
    if (pos_ < s_.size() && s_[pos_] == '-') ++pos_;
    const size_t digits = pos_;
    while (pos_ < s_.size() &&
           (std::string_view("0123456789.eE+-").find(s_[pos_]) != std::string_view::npos)) {
      ++pos_;
    }
    if (pos_ == digits || s_[digits] < '0' || s_[digits] > '9') return Fail("unexpected character");
    out->kind = JsonValue::Kind::kNumber;
    out->text = std::string(s_.substr(start, pos_ - start));
    return true;
  }

  bool Hex4(uint32_t* out) {
    if (s_.size() - pos_ < 4) return Fail("short \\u escape");
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = s_[pos_++];
      v <<= 4;
      if (c >= '0' && c <= '9')
        v |= uint32_t(c - '0');
      else if (c >= 'a' && c <= 'f')
        v |= uint32_t(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        v |= uint32_t(c - 'A' + 10);
      else
        return Fail("bad \\u escape");
    }
    *out = v;
    return true;
  }

  bool String(std::string* out) {
    ++pos_;  // the opening quote
    for (;;) {
      if (pos_ >= s_.size()) return Fail("unterminated string");
      const char c = s_[pos_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return Fail("control character in string");
      if (c != '\\') {
        out->push_back(c);
        continue;
      }
      if (pos_ >= s_.size()) return Fail("unterminated string");
      const char e = s_[pos_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out->push_back(e);
          break;
        case 'b':
          out->push_back('\b');
          break;
        case 'f':
          out->push_back('\f');
          break;
        case 'n':
          out->push_back('\n');
          break;
        case 'r':
          out->push_back('\r');
          break;
        case 't':
          out->push_back('\t');
          break;
        case 'u': {
          uint32_t cp = 0;
          if (!Hex4(&cp)) return false;
          if (cp >= 0xD800 && cp <= 0xDBFF && s_.substr(pos_, 2) == "\\u") {
            const size_t back = pos_;
            pos_ += 2;
            uint32_t low = 0;
            if (!Hex4(&low)) return false;
            if (low >= 0xDC00 && low <= 0xDFFF) {
              cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            } else {
              pos_ = back;
            }
          }
          // A lone surrogate has no UTF-8 form.
          if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;
          core::AppendUtf8(char32_t(cp), *out);
          break;
        }
        default:
          return Fail("bad escape");
      }
    }
  }

  std::string_view s_;
  size_t pos_ = 0;
};

}  // namespace

const JsonValue* JsonValue::Find(std::string_view key) const {
  for (const auto& [name, value] : members) {
    if (name == key) return &value;
  }
  return nullptr;
}

std::string JsonValue::StringOr(std::string_view key, std::string_view fallback) const {
  const JsonValue* v = Find(key);
  return v != nullptr && v->kind == Kind::kString ? v->text : std::string(fallback);
}

std::optional<JsonValue> ParseJson(std::string_view text, std::string* error) {
  Parser parser(text);
  JsonValue root;
  if (!parser.Document(&root)) {
    *error = parser.error;
    return std::nullopt;
  }
  return root;
}

}  // namespace core
