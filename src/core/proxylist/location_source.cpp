#include "core/proxylist/location_source.h"

#include <system_error>
#include <utility>

namespace core {

LocationSource::LocationSource(std::filesystem::path ipdb_file, std::filesystem::path wry_file)
    : ipdb_file_(std::move(ipdb_file)), wry_(std::move(wry_file)) {}

std::string LocationSource::Locate(std::string_view address) {
  if (!tried_ipdb_) {
    tried_ipdb_ = true;
    std::error_code ec;
    if (!ipdb_file_.empty() && std::filesystem::exists(ipdb_file_, ec)) {
      ipdb_ = IpdbFile::Open(ipdb_file_, &ipdb_error_);
    }
  }
  if (ipdb_) {
    IpdbRecord record;
    return ipdb_->Lookup(address, &record) ? IpdbLocationText(record) : std::string();
  }
  IpLocation loc;
  return wry_.LookupIpLocation(address, &loc) ? LocationText(loc) : std::string();
}

}  // namespace core
