// A small JSON reader: the location database's header, and the iso-codes data
// files the database builder reads. Pure; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace core {

struct JsonMember;

struct JsonValue {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  bool boolean = false;
  std::string text;  // a string's UTF-8 value, or a number as written
  std::vector<JsonValue> items;
  // In file order. A struct of its own rather than a pair: a pair cannot hold
  // the still incomplete JsonValue.
  std::vector<JsonMember> members;

  // The member named `key` of an object; nullptr when absent or not an object.
  const JsonValue* Find(std::string_view key) const;
  // The member's text when it is a string, else `fallback`.
  std::string StringOr(std::string_view key, std::string_view fallback) const;
};

struct JsonMember {
  std::string first;  // the name
  JsonValue second;   // the value
};

// Parses one JSON document, nesting at most 64 levels; numbers are kept as written
// and checked only loosely (the builder reads none). Returns nothing,
// with *error naming the byte offset, for malformed input.
std::optional<JsonValue> ParseJson(std::string_view text, std::string* error);

}  // namespace core
