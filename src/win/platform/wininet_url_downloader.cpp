#include "win/platform/wininet_url_downloader.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cwchar>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/base/text.h"
#include "win/platform/internet_handles.h"
#include "win/platform/wide_text.h"

namespace win {
namespace {

// Sent with every request, as list servers have always seen it.
constexpr wchar_t kExtraHeaders[] = L"Accept: */*\r\n\r\n";
// A list is always fetched from its server and never left in the cache.
constexpr DWORD kOpenFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
// A server that stops sending in the middle of a list gives up after this long
// instead of holding the one download slot for ever.
constexpr DWORD kReceiveTimeoutMs = 60000;

void SetDword(HINTERNET handle, DWORD option, DWORD value) {
  InternetSetOptionW(handle, option, &value, sizeof(value));
}

bool IsHttpUrl(std::string_view url) {
  std::string_view u = core::Trim(url);
  auto starts = [u](std::string_view scheme) {
    return u.size() >= scheme.size() && core::EqualsIgnoreAsciiCase(u.substr(0, scheme.size()), scheme);
  };
  return starts("http://") || starts("https://");
}

// Content-Length as text: the numeric query gives 32 bits, and a length past
// 4 GiB would wrap into something that looks like a small list.
std::optional<uint64_t> ParseLength(const wchar_t* text) {
  uint64_t value = 0;
  size_t digits = 0;
  for (const wchar_t* p = text; *p != L'\0'; ++p) {
    if (*p == L' ' || *p == L'\t') continue;
    if (*p < L'0' || *p > L'9') return std::nullopt;
    ++digits;
    if (value > (UINT64_MAX - 9) / 10) return UINT64_MAX;  // absurd: counts as too large
    value = value * 10 + uint64_t(*p - L'0');
  }
  if (digits == 0) return std::nullopt;
  return value;
}

}  // namespace

namespace {

using Handles = InternetHandleList;

class WinInetUrlResponse final : public core::UrlResponse {
 public:
  WinInetUrlResponse(std::shared_ptr<Handles> handles, InternetHandle request, int status,
                     std::optional<uint64_t> length)
      : handles_(std::move(handles)),
        request_(std::move(request)),
        status_(status),
        length_(length) {}

  int status() const override { return status_; }
  std::optional<uint64_t> content_length() const override { return length_; }

  core::ReadResult Read(char* buffer, size_t capacity) override {
    // Closing the handles does not interrupt a call in progress under Wine;
    // checking between pieces ends an aborted download at the next one.
    if (handles_->aborted()) return {false, 0};
    // Wine's InternetReadFile waits until the whole buffer is filled: asking
    // for no more than has arrived lets every piece (and its progress text)
    // through as it comes.
    DWORD available = 0;
    if (!InternetQueryDataAvailable(request_.get(), &available, 0, 0)) return {false, 0};
    if (available == 0) return {true, 0};
    if (handles_->aborted()) return {false, 0};
    DWORD want = DWORD(std::min<size_t>({available, capacity, size_t(MAXDWORD)}));
    DWORD got = 0;
    // A failed read is how WinInet tells of a body that ended before its end
    // (a connection cut inside a chunk, or before the last one); so is nothing
    // at all where data was announced. Under Wine neither happens: a chunked
    // body cut short ends like a whole one, and only a Content-Length (which
    // the download compares) shows it.
    if (!InternetReadFile(request_.get(), buffer, want, &got) || got == 0) return {false, 0};
    return {true, size_t(got)};
  }

 private:
  std::shared_ptr<Handles> handles_;
  InternetHandle request_;
  int status_;
  std::optional<uint64_t> length_;
};

class WinInetUrlSession final : public core::UrlSession {
 public:
  WinInetUrlSession(std::shared_ptr<Handles> handles, InternetHandle session)
      : handles_(std::move(handles)), session_(std::move(session)) {}

  std::string last_failure() const override { return last_failure_; }

  std::unique_ptr<core::UrlResponse> OpenUrl(std::string_view url) override {
    last_failure_.clear();
    std::wstring wide = Utf8ToWide(core::Trim(url));
    HINTERNET opened = InternetOpenUrlW(session_.get(), wide.c_str(), kExtraHeaders,
                                        DWORD(std::wcslen(kExtraHeaders)), kOpenFlags, 0);
    // Read at once: taking the handle into the shared set locks a mutex,
    // which may leave another error code behind.
    DWORD error = opened == nullptr ? GetLastError() : 0;
    InternetHandle request(handles_, opened);
    if (!request) {
      last_failure_ = core::OpenFailureText(error);
      return nullptr;
    }
    // Wine honours the receive time-out only on the request handle.
    SetDword(request.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, kReceiveTimeoutMs);
    if (!IsHttpUrl(url)) {
      // FTP: no status, and no length (its size is not asked for).
      return std::make_unique<WinInetUrlResponse>(handles_, std::move(request), 0, std::nullopt);
    }
    DWORD status = 0, size = sizeof(status);
    if (!HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                        &size, nullptr) ||
        status == 0) {
      // A server that closed without an answer: nothing worth writing came.
      last_failure_ = "服务器没有回答就关闭了连接";
      return nullptr;
    }
    std::optional<uint64_t> length;
    wchar_t text[64] = {};
    size = sizeof(text) - sizeof(wchar_t);
    if (HttpQueryInfoW(request.get(), HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) {
      length = ParseLength(text);
    }
    return std::make_unique<WinInetUrlResponse>(handles_, std::move(request), int(status),
                                                length);
  }

 private:
  std::shared_ptr<Handles> handles_;
  InternetHandle session_;
  std::string last_failure_;
};

}  // namespace

WinInetUrlDownloader::WinInetUrlDownloader() : handles_(std::make_shared<InternetHandleList>()) {}

WinInetUrlDownloader::~WinInetUrlDownloader() = default;

std::unique_ptr<core::UrlSession> WinInetUrlDownloader::OpenSession(
    core::SessionFailure* failure) {
  *failure = core::SessionFailure::kNone;
  // Only the busy-modem bit counts; whether the call reports a connection does
  // not (it is often wrong on machines behind a router).
  DWORD state = 0;
  InternetGetConnectedState(&state, 0);
  if (state & INTERNET_CONNECTION_MODEM_BUSY) {
    *failure = core::SessionFailure::kModemBusy;
    return nullptr;
  }
  // Every download names itself differently: "Agent" and the tick count as a
  // signed number.
  std::wstring agent = Utf8ToWide(core::Format("Agent%ld", long(LONG(GetTickCount()))));
  // Direct: the system proxy is whatever this program last set, possibly a
  // proxy that no longer answers; the list must come from the list server.
  InternetHandle session(handles_, InternetOpenW(agent.c_str(), INTERNET_OPEN_TYPE_DIRECT,
                                                 nullptr, nullptr, 0));
  if (!session) {
    *failure = core::SessionFailure::kNoInternet;
    return nullptr;
  }
  SetDword(session.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, kReceiveTimeoutMs);
  return std::make_unique<WinInetUrlSession>(handles_, std::move(session));
}

void WinInetUrlDownloader::Abort() { handles_->Abort(); }

}  // namespace win
