// Reader for GNU gettext's compiled catalogues (.mo), enough to translate the
// country names of iso-codes (for the database builder and the command-line
// tool's country codes). Pure.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace core {

// msgid → msgstr. For plural entries only the singular msgid and the first
// translation are kept; an entry with a context keeps gettext's own key
// "context\x04msgid". The header entry (empty msgid) is left out.
using MoCatalog = std::map<std::string, std::string, std::less<>>;

// Reads a catalogue in either byte order. Returns nothing, with *error saying
// why, when the bytes are not a well-formed catalogue.
std::optional<MoCatalog> ParseMoCatalog(std::string_view bytes, std::string* error);

}  // namespace core
