#include "win/platform/wininet_site_fetcher.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <array>
#include <string>
#include <utility>

#include "win/platform/internet_handles.h"
#include "win/platform/wide_text.h"

namespace win {
namespace {

// Null for an empty text: WinInet takes an empty user name as a request to log
// in with an empty name, a null one as "none given".
const wchar_t* OrNull(const std::wstring& s) { return s.empty() ? nullptr : s.c_str(); }

constexpr DWORD kMaxConnsPerServer = 1024;
constexpr DWORD kReadPiece = 8192;

void SetDword(HINTERNET handle, DWORD option, DWORD value) {
  InternetSetOptionW(handle, option, &value, sizeof(value));
}

// The verify time-outs. Set on the session as WinInet documents it, and again on
// each connection and request handle: Wine ignores the session's receive
// time-out and honours it only there.
void SetVerifyOptions(HINTERNET handle) {
  SetDword(handle, INTERNET_OPTION_CONNECT_TIMEOUT, core::kConnectTimeoutMs);
  SetDword(handle, INTERNET_OPTION_SEND_TIMEOUT, core::kSendTimeoutMs);
  SetDword(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, core::kReceiveTimeoutMs);
  SetDword(handle, INTERNET_OPTION_DATA_SEND_TIMEOUT, core::kDataSendTimeoutMs);
  SetDword(handle, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, core::kDataReceiveTimeoutMs);
  SetDword(handle, INTERNET_OPTION_CONNECT_RETRIES, core::kConnectRetries);
}

}  // namespace

namespace {

using Handles = InternetHandleList;

InternetHandle OpenSession(const std::shared_ptr<Handles>& handles, std::string_view proxy) {
  std::wstring agent = Utf8ToWide(core::kVerifyUserAgent);
  std::wstring proxy_list = Utf8ToWide(proxy);
  // INTERNET_FLAG_DONT_CACHE: nothing a test fetches is written to the cache.
  InternetHandle session(
      handles, InternetOpenW(agent.c_str(), INTERNET_OPEN_TYPE_PROXY, proxy_list.c_str(), nullptr,
                             INTERNET_FLAG_DONT_CACHE));
  if (session) SetVerifyOptions(session.get());
  return session;
}

class WinInetHttpRequest final : public core::HttpRequest {
 public:
  WinInetHttpRequest(std::shared_ptr<Handles> handles, InternetHandle session,
                     InternetHandle connection, InternetHandle request)
      : handles_(std::move(handles)),
        session_(std::move(session)),
        connection_(std::move(connection)),
        request_(std::move(request)) {}

  ~WinInetHttpRequest() override {
    request_.reset();
    connection_.reset();
    session_.reset();
  }

  core::TransferResult SendAndRead(const std::function<bool(std::string_view)>& sink) override {
    // After an abort the request's handle value is closed and may already name
    // another worker's request: sending on it would send that one.
    if (handles_->aborted()) return core::TransferResult::kFailed;
    if (!HttpSendRequestW(request_.get(), nullptr, 0, nullptr, 0)) {
      return core::TransferResult::kFailed;
    }
    // An error page from the proxy is a page like any other, and only its text
    // decides. A redirect is not the site's page, whatever its body says: it
    // counts as a page without the verify string (redirects are not followed).
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (HttpQueryInfoW(request_.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                       &size, nullptr) &&
        status >= 300 && status <= 399) {
      return core::TransferResult::kComplete;
    }
    std::array<char, kReadPiece> buffer;
    for (;;) {
      // Abort cannot interrupt a read in progress under Wine; checking between
      // pieces ends a proxy that trickles its page.
      if (handles_->aborted()) return core::TransferResult::kFailed;
      // Wine's InternetReadFile waits until the whole buffer is filled: ask for
      // no more than has arrived, so that every piece returns as it comes.
      DWORD available = 0;
      if (!InternetQueryDataAvailable(request_.get(), &available, 0, 0)) {
        return core::TransferResult::kFailed;
      }
      if (available == 0) return core::TransferResult::kComplete;
      if (handles_->aborted()) return core::TransferResult::kFailed;
      DWORD got = 0;
      DWORD want = std::min<DWORD>(available, DWORD(buffer.size()));
      if (!InternetReadFile(request_.get(), buffer.data(), want, &got)) {
        return core::TransferResult::kFailed;
      }
      if (got == 0) return core::TransferResult::kComplete;
      if (!sink(std::string_view(buffer.data(), got))) return core::TransferResult::kComplete;
    }
  }

 private:
  std::shared_ptr<Handles> handles_;
  InternetHandle session_;
  InternetHandle connection_;
  InternetHandle request_;
};

class WinInetFtpSession final : public core::FtpSession {
 public:
  WinInetFtpSession(std::shared_ptr<Handles> handles, InternetHandle session)
      : handles_(std::move(handles)), session_(std::move(session)) {}

  ~WinInetFtpSession() override {
    connection_.reset();
    session_.reset();
  }

  core::FtpLoginResult Login(const core::SiteRequest& request) override {
    std::wstring host = Utf8ToWide(request.host);
    std::wstring user = Utf8ToWide(request.user);
    std::wstring password = Utf8ToWide(request.password);
    // After an abort the session's handle value may belong to another worker.
    if (handles_->aborted()) return core::FtpLoginResult::kFailed;
    // Flags 0: active mode, not INTERNET_FLAG_PASSIVE.
    HINTERNET h = InternetConnectW(session_.get(), host.c_str(), request.port, OrNull(user),
                                   OrNull(password), INTERNET_SERVICE_FTP, 0, 0);
    DWORD error = h == nullptr ? GetLastError() : 0;
    connection_ = InternetHandle(handles_, h);
    if (connection_) return core::FtpLoginResult::kLoggedIn;
    if (h != nullptr || handles_->aborted()) return core::FtpLoginResult::kFailed;
    // Windows reports a refused login as 12014; Wine turns the server's 530
    // reply into 12015. Either way the proxy worked and the site said no.
    if (error == ERROR_INTERNET_INCORRECT_PASSWORD || error == ERROR_INTERNET_LOGIN_FAILURE) {
      return core::FtpLoginResult::kWrongPassword;
    }
    return error == 0 ? core::FtpLoginResult::kNoConnection : core::FtpLoginResult::kFailed;
  }

 private:
  std::shared_ptr<Handles> handles_;
  InternetHandle session_;
  InternetHandle connection_;
};

}  // namespace

WinInetSiteFetcher::WinInetSiteFetcher() : handles_(std::make_shared<InternetHandleList>()) {
  RaiseConnectionLimits();
}

WinInetSiteFetcher::~WinInetSiteFetcher() = default;

void WinInetSiteFetcher::RaiseConnectionLimits() {
  static std::once_flag once;
  std::call_once(once, [] {
    SetDword(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, kMaxConnsPerServer);
    SetDword(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, kMaxConnsPerServer);
  });
}

std::unique_ptr<core::HttpRequest> WinInetSiteFetcher::OpenHttp(const core::SiteRequest& request) {
  InternetHandle session = OpenSession(handles_, request.proxy);
  if (!session) return nullptr;
  std::wstring host = Utf8ToWide(request.host);
  std::wstring user = Utf8ToWide(request.user);
  std::wstring password = Utf8ToWide(request.password);
  INTERNET_PORT port = request.port != 0 ? request.port
                      : request.secure    ? INTERNET_DEFAULT_HTTPS_PORT
                                          : INTERNET_DEFAULT_HTTP_PORT;
  InternetHandle connection(
      handles_, InternetConnectW(session.get(), host.c_str(), port, OrNull(user),
                                 OrNull(password), INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return nullptr;
  SetVerifyOptions(connection.get());
  std::wstring path = Utf8ToWide(request.path);
  const wchar_t* accept[] = {L"*/*", nullptr};
  // INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE: a page answered from
  // the cache would verify a proxy that was never asked. The proxy under test
  // may be hostile: what it answers must not reach the user's cookies (the
  // browser shares them), answer a log-in challenge or lead elsewhere.
  DWORD flags = INTERNET_FLAG_EXISTING_CONNECT | INTERNET_FLAG_RELOAD |
                INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_AUTH |
                INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_UI;
  // https: through the proxy's tunnel, with the site's certificate checked (no
  // flag that ignores a bad one), so a proxy cannot answer in the site's place.
  if (request.secure) flags |= INTERNET_FLAG_SECURE;
  InternetHandle http(handles_, HttpOpenRequestW(connection.get(), L"GET", path.c_str(), nullptr,
                                                 nullptr, accept, flags, 0));
  if (!http) return nullptr;
  SetVerifyOptions(http.get());
  return std::make_unique<WinInetHttpRequest>(handles_, std::move(session), std::move(connection),
                                              std::move(http));
}

std::unique_ptr<core::FtpSession> WinInetSiteFetcher::OpenFtp(std::string_view proxy) {
  InternetHandle session = OpenSession(handles_, proxy);
  if (!session) return nullptr;
  return std::make_unique<WinInetFtpSession>(handles_, std::move(session));
}

void WinInetSiteFetcher::Abort() { handles_->Abort(); }

}  // namespace win
