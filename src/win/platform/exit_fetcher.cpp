#include "win/platform/exit_fetcher.h"

#include <wininet.h>

#include <atomic>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "core/sysproxy/proxy_server_text.h"
#include "win/platform/internet_handles.h"
#include "win/platform/tcp_connect_check.h"
#include "win/platform/unique_handle.h"
#include "win/platform/wide_text.h"

namespace win {

namespace {

std::atomic<int> g_threads_alive{0};

void SetDword(HINTERNET handle, DWORD option, DWORD value) {
  InternetSetOptionW(handle, option, &value, sizeof(value));
}

// Wine ignores the time-outs set on the session; on the connection and request
// handles the receive time-out fires, so every handle gets them.
void SetTimeouts(HINTERNET handle, DWORD ms) {
  SetDword(handle, INTERNET_OPTION_CONNECT_TIMEOUT, ms);
  SetDword(handle, INTERNET_OPTION_SEND_TIMEOUT, ms);
  SetDword(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, ms);
  SetDword(handle, INTERNET_OPTION_DATA_SEND_TIMEOUT, ms);
  SetDword(handle, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, ms);
  SetDword(handle, INTERNET_OPTION_CONNECT_RETRIES, 1);
}

// The proxy server text a session of the system's settings uses; empty when
// it goes direct.
std::string SessionProxy(HINTERNET session) {
  // INTERNET_PROXY_INFO with wide strings, as InternetQueryOptionW fills it;
  // mingw's header declares only the TCHAR form.
  struct ProxyInfo {
    DWORD access_type;
    LPCWSTR proxy;
    LPCWSTR bypass;
  };
  DWORD size = 0;
  InternetQueryOptionW(session, INTERNET_OPTION_PROXY, nullptr, &size);
  if (size < sizeof(ProxyInfo) || size > 64 * 1024) return {};
  std::vector<BYTE> buffer(size);
  if (!InternetQueryOptionW(session, INTERNET_OPTION_PROXY, buffer.data(), &size)) return {};
  const auto* info = reinterpret_cast<const ProxyInfo*>(buffer.data());
  if (info->access_type != INTERNET_OPEN_TYPE_PROXY || info->proxy == nullptr) return {};
  return WideToUtf8(info->proxy);
}

struct FetchJob {
  std::function<void(ExitFetchResult)> deliver;
  uint64_t id = 0;
  std::wstring page;
  core::ExitRoute route = core::ExitRoute::kSystem;
  uint32_t deadline_ms = 0;
};

// Runs one fetch to its end; false on any failure. Every WinInet handle is
// opened and closed here.
bool Fetch(const FetchJob& job, std::string* body) {
  DWORD start = GetTickCount();
  auto past_deadline = [&] { return GetTickCount() - start >= job.deadline_ms; };

  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof(parts);
  wchar_t host[256] = {};
  wchar_t path[2048] = {};
  wchar_t extra[2048] = {};
  parts.lpszHostName = host;
  parts.dwHostNameLength = ARRAYSIZE(host);
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = ARRAYSIZE(path);
  parts.lpszExtraInfo = extra;
  parts.dwExtraInfoLength = ARRAYSIZE(extra);
  if (!InternetCrackUrlW(job.page.c_str(), DWORD(job.page.size()), 0, &parts)) return false;
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return false;
  std::wstring object = std::wstring(path) + extra;
  if (object.empty()) object = L"/";

  // PRECONFIG reads the proxy settings the program writes, as browsers do; the
  // own-address fetch must not go through any proxy.
  DWORD access = job.route == core::ExitRoute::kDirect ? INTERNET_OPEN_TYPE_DIRECT
                                                       : INTERNET_OPEN_TYPE_PRECONFIG;
  UniqueInternet session(
      InternetOpenW(L"Mozilla/4.0 (compatible; MSIE 6.0)", access, nullptr, nullptr, 0));
  if (!session) return false;
  SetTimeouts(session.get(), job.deadline_ms);
  if (job.route == core::ExitRoute::kSystem) {
    // The proxy must take a connection within the deadline before WinInet is
    // handed the fetch: under Wine a connect to a black-holed proxy holds
    // WinInet for minutes whatever its time-outs, and every such thread
    // would keep one of the few fetch slots.
    std::string host_name;
    uint16_t port = 0;
    const char* scheme = parts.nScheme == INTERNET_SCHEME_HTTPS ? "https" : "http";
    if (core::ProxyForPage(SessionProxy(session.get()), scheme, &host_name, &port) &&
        !ConnectsWithin(host_name, port, job.deadline_ms)) {
      return false;
    }
  }
  UniqueInternet connect(InternetConnectW(session.get(), host, parts.nPort, nullptr, nullptr,
                                          INTERNET_SERVICE_HTTP, 0, 0));
  if (!connect) return false;
  SetTimeouts(connect.get(), job.deadline_ms);
  // Never from the cache and never over a connection kept from an earlier
  // proxy: the answer must describe the settings in force now. The proxy may
  // be hostile: its cookies stay out of the user's jar, its challenges are
  // not answered, and a redirect is a failed check (its status), not a page.
  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_AUTH |
                INTERNET_FLAG_NO_AUTO_REDIRECT;
  if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
  UniqueInternet request(
      HttpOpenRequestW(connect.get(), L"GET", object.c_str(), nullptr, nullptr, nullptr, flags, 0));
  if (!request) return false;
  SetTimeouts(request.get(), job.deadline_ms);
  static const wchar_t kHeaders[] = L"Connection: close\r\n";
  if (!HttpSendRequestW(request.get(), kHeaders, DWORD(-1), nullptr, 0)) return false;
  DWORD status = 0;
  DWORD size = sizeof(status);
  if (!HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                      &size, nullptr)) {
    return false;
  }
  // A proxy's own error page may name an address (its own, or the target's).
  if (status < 200 || status > 299) return false;

  char buffer[4096];
  while (body->size() < kMaxExitPageBytes) {
    // A trickling server never trips WinInet's time-outs under Wine.
    if (past_deadline()) return false;
    DWORD got = 0;
    if (!InternetReadFile(request.get(), buffer, sizeof(buffer), &got)) return false;
    if (got == 0) break;
    body->append(buffer, got);
  }
  if (body->size() > kMaxExitPageBytes) body->resize(kMaxExitPageBytes);
  return true;
}

}  // namespace

namespace {

DWORD WINAPI FetchThread(void* param) {
  std::unique_ptr<FetchJob> job(static_cast<FetchJob*>(param));
  ExitFetchResult result;
  result.id = job->id;
  try {
    result.ok = Fetch(*job, &result.body);
  } catch (...) {  // out of memory for the page: a failed check, not a crash
    result.ok = false;
  }
  if (!result.ok) result.body.clear();
  job->deliver(std::move(result));
  job.reset();
  g_threads_alive.fetch_sub(1);
  return 0;
}

}  // namespace

WinInetExitFetcher::WinInetExitFetcher(Report report, uint32_t deadline_ms)
    : report_(std::move(report)), deadline_ms_(deadline_ms) {}

WinInetExitFetcher::~WinInetExitFetcher() = default;

std::function<void(ExitFetchResult)> WinInetExitFetcher::Deliver() {
  return [this, poster = inbox_.poster()](ExitFetchResult result) {
    // Runs only while the fetcher (and so its inbox) lives.
    poster.Post([this, result = std::move(result)] {
      if (report_) report_(result);
    });
  };
}

void WinInetExitFetcher::StartFetch(uint64_t id, const std::string& page, core::ExitRoute route) {
  if (core::ExitCheckPageError(page).empty()) {
    if (g_threads_alive.fetch_add(1) < kMaxExitFetchThreads) {
      auto* job = new (std::nothrow) FetchJob{Deliver(), id, Utf8ToWide(page), route, deadline_ms_};
      // The thread is never waited for: it ends by itself and reports only
      // while the fetcher lives. Its handle is closed at once.
      UniqueKernelHandle thread(job ? CreateThread(nullptr, 0, &FetchThread, job, 0, nullptr)
                                    : nullptr);
      if (thread) return;
      delete job;
    }
    g_threads_alive.fetch_sub(1);
  }
  // Posted like any other result, so the check never hears back inside StartFetch.
  Deliver()({id, false, {}});
}

int WinInetExitFetcher::ThreadsAlive() { return g_threads_alive.load(); }

}  // namespace win
