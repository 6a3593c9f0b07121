// TLS for the checker's https pages with OpenSSL over memory buffers: the
// server's certificate is checked against the system's store (or a CA file given
// instead) and must name the page's host, so a proxy cannot answer in the site's
// place. Linux only.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "core/verify/page_fetch.h"

struct ssl_ctx_st;

namespace cli {

class OpensslTls : public core::TlsFactory {
 public:
  // `ca_file`: certificates to trust instead of the system's; empty for the system's.
  // On failure ok() is false and error() says why.
  explicit OpensslTls(const std::string& ca_file = {});
  ~OpensslTls() override;
  OpensslTls(const OpensslTls&) = delete;
  OpensslTls& operator=(const OpensslTls&) = delete;

  bool ok() const { return ctx_ != nullptr; }
  const std::string& error() const { return error_; }
  std::unique_ptr<core::TlsChannel> Start(std::string_view host) override;

 private:
  ::ssl_ctx_st* ctx_ = nullptr;
  std::string error_;
};

}  // namespace cli
