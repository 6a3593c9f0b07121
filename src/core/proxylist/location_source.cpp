#include "core/proxylist/location_source.h"

#include <system_error>
#include <utility>

namespace core {

LocationSource::LocationSource(std::filesystem::path ipdb_file, std::filesystem::path wry_file)
    : ipdb_file_(std::move(ipdb_file)), wry_file_(wry_file), wry_(std::move(wry_file)) {}

void LocationSource::OpenIpdb() {
  if (tried_ipdb_) return;
  tried_ipdb_ = true;
  std::error_code ec;
  if (ipdb_file_.empty() || !std::filesystem::exists(ipdb_file_, ec)) return;
  if (std::optional<IpdbFile> file = IpdbFile::Open(ipdb_file_, &ipdb_error_)) {
    ipdb_ = std::make_shared<const IpdbFile>(std::move(*file));
  }
}

std::shared_ptr<LocationSource> LocationSource::ForAnotherThread() {
  OpenIpdb();
  auto other = std::make_shared<LocationSource>(ipdb_file_, wry_file_);
  other->tried_ipdb_ = true;
  other->ipdb_ = ipdb_;
  other->ipdb_error_ = ipdb_error_;
  return other;
}

namespace {

// A database is data from outside: a line end or a control character in it
// would split a list file's line (and reach a terminal as it is). Each run of
// them becomes one blank; the rest is kept as it was.
std::string Cleaned(std::string text) {
  std::string out;
  out.reserve(text.size());
  bool in_run = false;
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    bool control = u < 0x20 || u == 0x7F;
    if (!control) out += c;
    if (control && !in_run) out += ' ';
    in_run = control;
  }
  return out;
}

}  // namespace

std::string LocationSource::Locate(std::string_view address) {
  OpenIpdb();
  if (ipdb_) {
    IpdbRecord record;
    return ipdb_->Lookup(address, &record) ? Cleaned(IpdbLocationText(record)) : std::string();
  }
  IpLocation loc;
  return wry_.LookupIpLocation(address, &loc) ? Cleaned(LocationText(loc)) : std::string();
}

}  // namespace core
