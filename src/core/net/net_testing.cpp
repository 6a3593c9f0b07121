#include "core/net/net_testing.h"

#include "core/base/text.h"

namespace core {

std::string Bytes(std::string_view spec) {
  std::string out;
  for (size_t i = 0; i < spec.size();) {
    char c = spec[i];
    if (c == ' ') {
      ++i;
    } else if (c == '|') {
      size_t end = spec.find('|', i + 1);
      out.append(spec.substr(i + 1, end - i - 1));
      i = end + 1;
    } else {
      out += static_cast<char>(std::stoi(std::string(spec.substr(i, 2)), nullptr, 16));
      i += 2;
    }
  }
  return out;
}

std::string Shown(std::string_view bytes) {
  std::string out;
  for (char c : bytes) {
    if (c >= 0x20 && c < 0x7F) {
      out += c;
    } else {
      out += Format("\\x%02x", static_cast<unsigned>(static_cast<uint8_t>(c)));
    }
  }
  return out;
}

}  // namespace core
