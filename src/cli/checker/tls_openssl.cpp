#include "cli/checker/tls_openssl.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "core/net/net_target.h"

namespace cli {
namespace {

std::string LastError() {
  unsigned long e = ERR_get_error();
  ERR_clear_error();
  if (e == 0) return "TLS failed";
  char text[256];
  ERR_error_string_n(e, text, sizeof(text));
  return text;
}

class OpensslChannel : public core::TlsChannel {
 public:
  OpensslChannel(SSL* ssl) : ssl_(ssl) {}
  ~OpensslChannel() override { SSL_free(ssl_); }

  bool Receive(std::string_view encrypted, std::string* plain) override {
    if (failed_) return false;
    if (!encrypted.empty() &&
        BIO_write(SSL_get_rbio(ssl_), encrypted.data(), int(encrypted.size())) <= 0) {
      return Failed(LastError());
    }
    if (!Handshake()) return false;
    if (!shaken_) return true;
    char buffer[16384];
    for (;;) {
      int n = SSL_read(ssl_, buffer, sizeof(buffer));
      if (n > 0) {
        plain->append(buffer, size_t(n));
        continue;
      }
      int e = SSL_get_error(ssl_, n);
      if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_ZERO_RETURN) return true;
      return Failed(LastError());
    }
  }

  bool Send(std::string_view plain) override {
    pending_.append(plain);
    return Flush();
  }

  std::string TakeOutgoing() override {
    std::string out;
    BIO* w = SSL_get_wbio(ssl_);
    char buffer[16384];
    for (int n; (n = BIO_read(w, buffer, sizeof(buffer))) > 0;) out.append(buffer, size_t(n));
    return out;
  }

  std::string error() const override { return error_; }

  // Starts the handshake: the ClientHello goes to the outgoing buffer.
  bool Begin() { return Handshake(); }

 private:
  bool Failed(std::string why) {
    failed_ = true;
    error_ = std::move(why);
    return false;
  }

  bool Handshake() {
    if (shaken_) return true;
    int r = SSL_do_handshake(ssl_);
    if (r == 1) {
      shaken_ = true;
      return Flush();
    }
    int e = SSL_get_error(ssl_, r);
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) return true;
    long verify = SSL_get_verify_result(ssl_);
    if (verify != X509_V_OK) {
      ERR_clear_error();
      return Failed(std::string("certificate not accepted: ") +
                    X509_verify_cert_error_string(verify));
    }
    return Failed(LastError());
  }

  bool Flush() {
    if (!shaken_ || pending_.empty()) return !failed_;
    int n = SSL_write(ssl_, pending_.data(), int(pending_.size()));
    if (n <= 0) return Failed(LastError());
    pending_.erase(0, size_t(n));
    return true;
  }

  SSL* ssl_;
  bool shaken_ = false;
  bool failed_ = false;
  std::string pending_;
  std::string error_;
};

}  // namespace

OpensslTls::OpensslTls(const std::string& ca_file) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  if (!ctx) {
    error_ = LastError();
    return;
  }
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  // Thousands of sessions at once: buffers are given back while a session idles.
  SSL_CTX_set_mode(ctx, SSL_MODE_RELEASE_BUFFERS);
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  int loaded = ca_file.empty() ? SSL_CTX_set_default_verify_paths(ctx)
                               : SSL_CTX_load_verify_locations(ctx, ca_file.c_str(), nullptr);
  if (loaded != 1) {
    error_ = ca_file.empty() ? "the system's certificates could not be loaded"
                             : "cannot read certificates from " + ca_file;
    ERR_clear_error();
    SSL_CTX_free(ctx);
    return;
  }
  ctx_ = ctx;
}

OpensslTls::~OpensslTls() { SSL_CTX_free(ctx_); }

std::unique_ptr<core::TlsChannel> OpensslTls::Start(std::string_view host) {
  if (!ctx_) return nullptr;
  SSL* ssl = SSL_new(ctx_);
  if (!ssl) return nullptr;
  BIO* r = BIO_new(BIO_s_mem());
  BIO* w = BIO_new(BIO_s_mem());
  if (!r || !w) {
    BIO_free(r);
    BIO_free(w);
    SSL_free(ssl);
    return nullptr;
  }
  SSL_set_bio(ssl, r, w);
  SSL_set_connect_state(ssl);
  std::string name(host);
  core::HostKind kind = core::ClassifyHost(name);
  bool named = false;
  if (kind == core::HostKind::kName) {
    named =
        SSL_set_tlsext_host_name(ssl, name.c_str()) == 1 && SSL_set1_host(ssl, name.c_str()) == 1;
  } else if (kind == core::HostKind::kIpv4 || kind == core::HostKind::kIpv6) {
    named = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), name.c_str()) == 1;
  }
  if (!named) {
    SSL_free(ssl);
    return nullptr;
  }
  auto channel = std::make_unique<OpensslChannel>(ssl);
  channel->Begin();
  return channel;
}

}  // namespace cli
