// Winsock before windows.h (which the prober's header brings).
#include <winsock2.h>
#include <ws2tcpip.h>

#include "win/platform/winsock_connect_prober.h"

#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "win/platform/wide_text.h"
#include "win/platform/win_clock.h"
#include "win/ui/window_base.h"

namespace win {
namespace {

// Posted to the report window when outcomes are waiting to be handed over.
constexpr UINT kProbeOutcomes = WM_APP + 0x3B0;
// How long one select waits: the longest a new or cancelled socket waits for
// the prober thread to look at it.
constexpr long kSelectWaitUs = 20000;
// The shortest pass of the prober thread. Each select looks at every socket in
// flight (under Wine, inside the wine server, which every thread of the program
// waits on); when outcomes arrive one after another, a select per outcome over a
// thousand sockets would keep the system busy for nothing.
constexpr DWORD kMinPassMs = 20;
// The UI thread hands outcomes to the gate for at most this long at a time, then
// lets its other messages through before it goes on.
constexpr double kReportSliceMs = 8.0;

// Winsock's fd_set holds FD_SETSIZE (64) sockets; select reads fd_count entries
// of whatever array follows it, so a larger array of the same layout serves
// any number of sockets.
struct SocketSet {
  // The count takes the first element (with its padding), the sockets the rest.
  explicit SocketSet(size_t capacity) : words(capacity + 2) {}
  fd_set* get() { return reinterpret_cast<fd_set*>(words.data()); }
  void Clear() { get()->fd_count = 0; }
  void Add(SOCKET s) { get()->fd_array[get()->fd_count++] = s; }
  std::vector<SOCKET> words;
};

static_assert(offsetof(fd_set, fd_array) == sizeof(SOCKET));

}  // namespace

// What the UI thread, the prober thread and the name resolutions share. Every
// field is behind the mutex; no call that can block is made while it is held.
class WinsockConnectProber::State {
 public:
  std::mutex mutex;
  HWND window = nullptr;  // null once the prober is going away: nothing is posted
  bool stop = false;
  std::map<uint64_t, SOCKET> connecting;  // watched by the prober thread
  std::vector<SOCKET> to_close;          // cancelled; closed by the prober thread
  struct Pending {
    uint64_t id;
    std::string host;
    uint16_t port;
    uint64_t epoch;  // CancelAll moves on to a new epoch
  };
  uint64_t epoch = 0;
  std::vector<Pending> to_start;         // handed over by Start, not begun yet
  std::set<uint64_t> cancelled_start;    // cancelled before they were begun
  std::set<uint64_t> resolving;          // names being resolved
  std::set<uint64_t> cancelled_resolving;
  HANDLE wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);

  ~State() {
    for (auto& [id, s] : connecting) closesocket(s);
    for (SOCKET s : to_close) closesocket(s);
    if (wake) CloseHandle(wake);
  }

  // Outcomes not handed to the UI thread yet, and whether a message says so.
  std::vector<std::pair<uint64_t, bool>> outcomes;
  bool outcomes_posted = false;

  // Queues an outcome; called with the mutex held. One message stands for all
  // the outcomes queued until the UI thread takes them.
  void PostLocked(uint64_t id, bool connected) {
    if (!window) return;
    outcomes.emplace_back(id, connected);
    if (!outcomes_posted) outcomes_posted = PostMessageW(window, kProbeOutcomes, 0, 0) != FALSE;
  }

  // Begins a non-blocking connect. Returns the socket when the outcome is still
  // to come; INVALID_SOCKET with *connected set when it is known at once, or
  // with *error set when no socket could be made.
  static SOCKET Connect(const sockaddr* address, int length, bool* connected, int* error) {
    *connected = false;
    *error = 0;
    SOCKET s = socket(address->sa_family, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
      *error = WSAGetLastError();
      return INVALID_SOCKET;
    }
    u_long non_blocking = 1;
    if (ioctlsocket(s, FIONBIO, &non_blocking) != 0) {
      *error = WSAGetLastError();
      closesocket(s);
      return INVALID_SOCKET;
    }
    if (connect(s, address, length) == 0) {
      *connected = true;
      closesocket(s);
      return INVALID_SOCKET;
    }
    int e = WSAGetLastError();
    if (e == WSAEWOULDBLOCK || e == WSAEINPROGRESS) return s;
    closesocket(s);
    return INVALID_SOCKET;
  }

  // Begins one probe on the prober thread: every socket call takes a trip to
  // the system (to the wine server under Wine), and a thousand of them would
  // hold the UI thread for seconds. A host name goes to the thread pool.
  void Begin(Pending p) {
    {
      std::lock_guard lock(mutex);
      if (cancelled_start.erase(p.id) != 0 || p.epoch != epoch) return;
    }
    sockaddr_storage address{};
    int length = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (inet_pton(AF_INET, p.host.c_str(), &v4->sin_addr) == 1) {
      v4->sin_family = AF_INET;
      v4->sin_port = htons(p.port);
      length = sizeof(sockaddr_in);
    } else if (inet_pton(AF_INET6, p.host.c_str(), &v6->sin6_addr) == 1) {
      v6->sin6_family = AF_INET6;
      v6->sin6_port = htons(p.port);
      length = sizeof(sockaddr_in6);
    }
    if (length == 0) {
      auto* r = new Resolution{self.lock(), p.id, std::move(p.host), p.port};
      std::lock_guard lock(mutex);
      resolving.insert(p.id);
      if (!r->state || !QueueUserWorkItem(&State::Resolve, r, WT_EXECUTELONGFUNCTION)) {
        delete r;
        resolving.erase(p.id);
        PostLocked(p.id, false);
      }
      return;
    }
    bool connected = false;
    int error = 0;
    SOCKET s = Connect(reinterpret_cast<sockaddr*>(&address), length, &connected, &error);
    std::lock_guard lock(mutex);
    // Cancelled (or the run stopped) while the socket was being made: the
    // probe is gone, so is its socket, and nothing is reported.
    if (cancelled_start.erase(p.id) != 0 || p.epoch != epoch) {
      if (s != INVALID_SOCKET) closesocket(s);
      return;
    }
    if (s == INVALID_SOCKET) {
      // Known at once: connected, refused by the local stack, or no socket to
      // be had (which the connect time-out would not cure either).
      PostLocked(p.id, connected);
    } else {
      connecting.emplace(p.id, s);
    }
  }

  std::weak_ptr<State> self;  // set by the prober, for name resolutions

  // The prober thread: watches every connecting socket and reports each once.
  void Loop() {
    std::vector<std::pair<uint64_t, SOCKET>> watched;
    SocketSet writable(0), failed(0);
    std::unordered_map<SOCKET, int> ready;  // 1 writable, 2 failed
    std::vector<Pending> starting;
    for (;;) {
      std::vector<SOCKET> closing;
      {
        std::lock_guard lock(mutex);
        if (stop) return;
        closing.swap(to_close);
        starting.swap(to_start);
      }
      for (SOCKET s : closing) closesocket(s);
      for (Pending& p : starting) Begin(std::move(p));
      starting.clear();
      {
        std::lock_guard lock(mutex);
        watched.assign(connecting.begin(), connecting.end());
      }
      if (watched.empty()) {
        WaitForSingleObject(wake, INFINITE);
        continue;
      }
      if (writable.words.size() < watched.size() + 2) {
        writable = SocketSet(watched.size() * 2);
        failed = SocketSet(watched.size() * 2);
      }
      writable.Clear();
      failed.Clear();
      for (auto& [id, s] : watched) {
        writable.Add(s);
        failed.Add(s);
      }
      DWORD pass_began = GetTickCount();
      timeval wait{0, kSelectWaitUs};
      int n = select(0, nullptr, writable.get(), failed.get(), &wait);
      if (n <= 0) {
        if (n < 0) Sleep(1);  // a socket closed under us; look again
        continue;
      }
      // select leaves only the sockets it found in each set.
      ready.clear();
      for (u_int i = 0; i < writable.get()->fd_count; ++i) ready[writable.get()->fd_array[i]] |= 1;
      for (u_int i = 0; i < failed.get()->fd_count; ++i) ready[failed.get()->fd_array[i]] |= 2;
      for (auto& [id, s] : watched) {
        auto found = ready.find(s);
        if (found == ready.end()) continue;
        bool done_ok = (found->second & 1) != 0;
        bool done_bad = (found->second & 2) != 0;
        // Writable means connected, unless the socket holds an error (some
        // stacks report a refused connect as writable).
        int error = 0;
        int length = sizeof(error);
        if (done_ok &&
            getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
          error = WSAGetLastError();
        }
        bool connected = done_ok && !done_bad && error == 0;
        std::lock_guard lock(mutex);
        auto it = connecting.find(id);
        if (it == connecting.end() || it->second != s) continue;  // cancelled: in to_close
        connecting.erase(it);
        closesocket(s);
        PostLocked(id, connected);
      }
      DWORD spent = GetTickCount() - pass_began;
      if (spent < kMinPassMs) Sleep(kMinPassMs - spent);
    }
  }

  struct Resolution {
    std::shared_ptr<State> state;
    uint64_t id;
    std::string host;
    uint16_t port;
  };

  // On the system thread pool: resolves a host name (which may take seconds)
  // and begins the connect to its first address.
  static DWORD WINAPI Resolve(void* param) {
    std::unique_ptr<Resolution> r(static_cast<Resolution*>(param));
    addrinfoW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfoW* found = nullptr;
    std::wstring host = Utf8ToWide(r->host);
    std::wstring port = std::to_wstring(r->port);
    bool connected = false;
    int error = 0;
    SOCKET s = INVALID_SOCKET;
    if (GetAddrInfoW(host.c_str(), port.c_str(), &hints, &found) == 0 && found != nullptr) {
      s = Connect(found->ai_addr, int(found->ai_addrlen), &connected, &error);
    }
    if (found) FreeAddrInfoW(found);
    State& state = *r->state;
    std::lock_guard lock(state.mutex);
    state.resolving.erase(r->id);
    if (state.cancelled_resolving.erase(r->id) != 0 || state.stop) {
      if (s != INVALID_SOCKET) closesocket(s);
      return 0;
    }
    if (s == INVALID_SOCKET) {
      state.PostLocked(r->id, connected);
      return 0;
    }
    state.connecting.emplace(r->id, s);
    SetEvent(state.wake);
    return 0;
  }

  static DWORD WINAPI ThreadMain(void* param) {
    std::unique_ptr<std::shared_ptr<State>> state(static_cast<std::shared_ptr<State>*>(param));
    (*state)->Loop();
    return 0;
  }
};

WinsockConnectProber::WinsockConnectProber() : state_(std::make_shared<State>()) {
  state_->self = state_;
}

WinsockConnectProber::~WinsockConnectProber() {
  CancelAll();
  {
    std::lock_guard lock(state_->mutex);
    state_->window = nullptr;
    state_->stop = true;
  }
  if (thread_) {
    SetEvent(state_->wake);
    // The thread looks at `stop` at least every kSelectWaitUs.
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
  }
  window_.reset();
  // Resolutions still running hold the state and close what they open.
  if (wsa_) WSACleanup();
}

bool WinsockConnectProber::Create() {
  if (thread_) return true;
  WSADATA data;
  if (!wsa_) wsa_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  if (!wsa_ || state_->wake == nullptr) return false;
  // On the UI thread that creates the prober: outcomes are handled there, in
  // the order the prober thread saw them.
  window_ = std::make_unique<MessageWindow>([this](UINT msg, WPARAM, LPARAM) {
    if (msg != kProbeOutcomes) return false;
    TakeOutcomes();
    return true;
  });
  if (!window_->Create(L"RelaymothConnectProber")) {
    window_.reset();
    return false;
  }
  {
    std::lock_guard lock(state_->mutex);
    state_->window = window_->hwnd();
  }
  auto* param = new std::shared_ptr<State>(state_);
  thread_ = CreateThread(nullptr, 64 * 1024, &State::ThreadMain, param,
                         STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread_ == nullptr) {
    delete param;
    return false;
  }
  return true;
}

core::ProbeStart WinsockConnectProber::Start(uint64_t id, std::string_view host, uint16_t port) {
  if (!thread_) return core::ProbeStart::kFailed;
  live_.insert(id);
  std::lock_guard lock(state_->mutex);
  // The thread takes the whole queue at once: only the first entry needs to
  // wake it (a wake costs a trip to the system, and a sweep starts a thousand).
  if (state_->to_start.empty()) SetEvent(state_->wake);
  state_->to_start.push_back({id, std::string(host), port, state_->epoch});
  return core::ProbeStart::kStarted;
}

void WinsockConnectProber::Cancel(uint64_t id) {
  if (live_.erase(id) == 0) return;
  std::lock_guard lock(state_->mutex);
  auto it = state_->connecting.find(id);
  if (it != state_->connecting.end()) {
    // The prober thread may be inside select with this socket: it closes it.
    if (state_->to_close.empty()) SetEvent(state_->wake);
    state_->to_close.push_back(it->second);
    state_->connecting.erase(it);
    return;
  }
  if (state_->resolving.count(id)) {
    state_->cancelled_resolving.insert(id);
    return;
  }
  // Not begun yet (or its outcome is on the way): the thread skips it.
  state_->cancelled_start.insert(id);
}

void WinsockConnectProber::CancelAll() {
  live_.clear();
  std::lock_guard lock(state_->mutex);
  for (auto& [id, s] : state_->connecting) state_->to_close.push_back(s);
  state_->connecting.clear();
  state_->cancelled_resolving.insert(state_->resolving.begin(), state_->resolving.end());
  state_->to_start.clear();
  state_->cancelled_start.clear();
  ++state_->epoch;
  SetEvent(state_->wake);
}

int WinsockConnectProber::open_sockets() const {
  std::lock_guard lock(state_->mutex);
  return int(state_->connecting.size() + state_->to_close.size());
}

size_t WinsockConnectProber::queued_outcomes() const {
  std::lock_guard lock(state_->mutex);
  return state_->outcomes.size() + arrived_.size();
}

void WinsockConnectProber::TakeOutcomes() {
  {
    std::lock_guard lock(state_->mutex);
    state_->outcomes_posted = false;
    arrived_.insert(arrived_.end(), state_->outcomes.begin(), state_->outcomes.end());
    state_->outcomes.clear();
  }
  // Thousands can arrive at once (a sweep of refused ports): they are handed on
  // in slices, with the UI thread's other messages let through in between.
  double began = PreciseMs();
  while (!arrived_.empty() && PreciseMs() - began < kReportSliceMs) {
    auto [id, connected] = arrived_.front();
    arrived_.pop_front();
    // The report may cancel, start or stop probes, and even end the run.
    if (live_.erase(id) != 0 && report_) report_(id, connected);
  }
  if (!arrived_.empty() && window_) PostMessageW(window_->hwnd(), kProbeOutcomes, 0, 0);
}

}  // namespace win
