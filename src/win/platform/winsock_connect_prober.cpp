// Winsock before windows.h (which the prober's header brings).
#include "win/platform/winsock_connect_prober.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "win/platform/message_window.h"
#include "win/platform/unique_socket.h"
#include "win/platform/wide_text.h"
#include "win/platform/win_clock.h"

namespace win {
namespace {

// The UI thread hands outcomes to the gate for at most this long at a time, then
// lets its other messages through before it goes on.
constexpr double kReportSliceMs = 8.0;

// The prober thread's window (a class of its own, so the WM_USER range is
// free): a socket's connect ended (WSAAsyncSelect; wParam the socket, lParam
// the event and its error), and, right after a socket was closed before its
// connect ended, the mark that tells an event queued ahead of it is stale.
constexpr UINT kSocketEvent = WM_USER + 1;
constexpr UINT kSocketClosed = WM_USER + 2;

struct Address {
  sockaddr_storage storage{};
  int length = 0;
};

// A literal IPv4 or IPv6 address; length 0 for anything else (a host name).
Address ParseAddress(const std::string& host, uint16_t port) {
  Address a;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&a.storage);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&a.storage);
  if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    a.length = sizeof(sockaddr_in);
  } else if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    a.length = sizeof(sockaddr_in6);
  }
  return a;
}

}  // namespace

// What the UI thread, the prober thread and the name resolutions share. Every
// shared field is behind the mutex; no call that can block is made while it is
// held. Sockets are made, watched and closed on the prober thread only.
//
// Each connect reports its end by a message to the prober thread's window
// (WSAAsyncSelect). The system watches each socket on its own, so a connect
// ending costs the same with ten or a thousand in flight; under Wine a select
// over all of them would be scanned again by the wine server for every event
// of every socket of the program, the verification workers' included.
class WinsockConnectProber::State {
 public:
  std::mutex mutex;
  // The UI thread's inbox of the prober; unset once the prober is going away:
  // nothing is posted.
  Poster to_ui;
  WinsockConnectProber* prober = nullptr;
  bool stop = false;
  std::map<uint64_t, UniqueSocket> connecting;  // connects in flight
  std::vector<UniqueSocket> to_close;           // cancelled; closed by the prober thread
  struct Pending {
    uint64_t id;
    std::string host;
    uint16_t port;
    uint64_t epoch;  // CancelAll moves on to a new epoch
  };
  struct Resolved {
    uint64_t id;
    Address address;
    uint64_t epoch;
  };
  uint64_t epoch = 0;
  std::vector<Pending> to_start;         // handed over by Start, not begun yet
  std::vector<Resolved> to_connect;      // names resolved, connects not begun
  std::set<uint64_t> cancelled_start;    // cancelled before their connect began
  std::set<uint64_t> resolving;          // names being resolved
  std::set<uint64_t> cancelled_resolving;
  UniqueKernelHandle wake{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  // Set once the thread's window is made.
  UniqueKernelHandle ready{CreateEventW(nullptr, TRUE, FALSE, nullptr)};

  // Outcomes not handed to the UI thread yet, and whether a post says so.
  std::vector<std::pair<uint64_t, bool>> outcomes;
  bool outcomes_posted = false;

  // Queues an outcome; called with the mutex held. One post stands for all
  // the outcomes queued until the UI thread takes them.
  void PostLocked(uint64_t id, bool connected) {
    if (prober == nullptr) return;
    outcomes.emplace_back(id, connected);
    if (!outcomes_posted) {
      WinsockConnectProber* to = prober;
      outcomes_posted = to_ui.Post([to] { to->TakeOutcomes(); });
    }
  }

  std::weak_ptr<State> self;  // set by the prober, for name resolutions

  // The prober thread's own: its window and the sockets it watches.
  HWND events = nullptr;
  std::unordered_map<SOCKET, uint64_t> watched;
  std::unordered_map<SOCKET, int> closed_marks;  // closed handles with a mark on its way

  // Closes a socket whose connect may still report: the mark posted behind
  // the close tells a stale event from one of a new socket given the same handle.
  void CloseUnreported(UniqueSocket owned) {
    const SOCKET s = owned.get();
    watched.erase(s);
    owned.reset();
    if (PostMessageW(events, kSocketClosed, WPARAM(s), 0)) ++closed_marks[s];
  }

  // Whether a probe not yet connecting was cancelled, or its run stopped;
  // called with the mutex held. A cancel is used up by the answer.
  bool GoneLocked(uint64_t id, uint64_t probe_epoch) {
    return cancelled_start.erase(id) != 0 || probe_epoch != epoch;
  }

  // Begins one probe: a literal address at once, a host name on the thread pool.
  void Begin(Pending p) {
    Address address = ParseAddress(p.host, p.port);
    if (address.length != 0) return Open(p.id, address, p.epoch);
    auto* r = new Resolution{self.lock(), p.id, std::move(p.host), p.port, p.epoch};
    std::lock_guard lock(mutex);
    if (GoneLocked(p.id, p.epoch)) {
      delete r;
      return;
    }
    resolving.insert(p.id);
    if (!r->state || !QueueUserWorkItem(&State::Resolve, r, WT_EXECUTELONGFUNCTION)) {
      delete r;
      resolving.erase(p.id);
      PostLocked(p.id, false);
    }
  }

  // Makes the socket and begins its non-blocking connect. An outcome known at
  // once (connected, refused by the local stack, no socket to be had, which the
  // connect time-out would not cure either) is reported at once.
  void Open(uint64_t id, const Address& address, uint64_t probe_epoch) {
    {
      std::lock_guard lock(mutex);
      if (GoneLocked(id, probe_epoch)) return;
    }
    auto known = [&](bool connected) {
      std::lock_guard lock(mutex);
      if (!GoneLocked(id, probe_epoch)) PostLocked(id, connected);
    };
    UniqueSocket s(socket(address.storage.ss_family, SOCK_STREAM, IPPROTO_TCP));
    if (!s) return known(false);
    // Also makes the socket non-blocking.
    if (WSAAsyncSelect(s.get(), events, kSocketEvent, FD_CONNECT) != 0) {
      return known(false);
    }
    if (connect(s.get(), reinterpret_cast<const sockaddr*>(&address.storage), address.length) ==
        0) {
      CloseUnreported(std::move(s));
      return known(true);
    }
    int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK && error != WSAEINPROGRESS) {
      CloseUnreported(std::move(s));
      return known(false);
    }
    {
      std::lock_guard lock(mutex);
      // Cancelled (or the run stopped) while the socket was being made: the
      // probe is gone, so is its socket, and nothing is reported.
      if (!GoneLocked(id, probe_epoch)) {
        watched.emplace(s.get(), id);
        connecting.emplace(id, std::move(s));
        return;
      }
    }
    CloseUnreported(std::move(s));
  }

  // A connect ended (the prober thread's window).
  void OnSocketEvent(SOCKET s, LPARAM event) {
    if (closed_marks.count(s) != 0) return;  // of a socket closed since
    auto found = watched.find(s);
    if (found == watched.end()) return;
    const uint64_t id = found->second;
    watched.erase(found);
    const bool connected = WSAGETSELECTEVENT(event) == FD_CONNECT && WSAGETSELECTERROR(event) == 0;
    // FD_CONNECT comes once: nothing more is queued for this socket, which is
    // closed when this ends, outside the lock.
    UniqueSocket ended;
    {
      std::lock_guard lock(mutex);
      auto it = connecting.find(id);
      // Cancelled meanwhile: the socket waits in to_close and nothing is reported.
      if (it == connecting.end() || it->second.get() != s) return;
      ended = std::move(it->second);
      connecting.erase(it);
      PostLocked(id, connected);
    }
  }

  void OnSocketClosed(SOCKET s) {
    auto it = closed_marks.find(s);
    if (it != closed_marks.end() && --it->second <= 0) closed_marks.erase(it);
  }

  // The prober thread: begins the connects handed over, closes the cancelled
  // ones and waits for the next event or hand-over.
  void Loop() {
    MessageWindow window([this](UINT msg, WPARAM wparam, LPARAM lparam) {
      if (msg == kSocketEvent)
        OnSocketEvent(SOCKET(wparam), lparam);
      else if (msg == kSocketClosed)
        OnSocketClosed(SOCKET(wparam));
      else
        return false;
      return true;
    });
    const bool made = window.Create(L"RelaymothConnectEvents");
    events = made ? window.hwnd() : nullptr;
    SetEvent(ready.get());  // Create waits for the window
    if (!made) return;
    std::vector<Pending> starting;
    std::vector<Resolved> resolved;
    std::vector<UniqueSocket> closing;
    const HANDLE wake_handle = wake.get();
    for (;;) {
      {
        std::lock_guard lock(mutex);
        if (stop) return;
        closing.swap(to_close);
        starting.swap(to_start);
        resolved.swap(to_connect);
      }
      for (UniqueSocket& s : closing) CloseUnreported(std::move(s));
      for (Pending& p : starting) Begin(std::move(p));
      for (Resolved& r : resolved) Open(r.id, r.address, r.epoch);
      closing.clear();
      starting.clear();
      resolved.clear();
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
      MsgWaitForMultipleObjectsEx(1, &wake_handle, INFINITE, QS_ALLPOSTMESSAGE,
                                  MWMO_INPUTAVAILABLE);
    }
  }

  struct Resolution {
    std::shared_ptr<State> state;
    uint64_t id;
    std::string host;
    uint16_t port;
    uint64_t epoch;
  };

  // On the system thread pool: resolves a host name (which may take seconds)
  // and hands its first address to the prober thread.
  static DWORD WINAPI Resolve(void* param) {
    std::unique_ptr<Resolution> r(static_cast<Resolution*>(param));
    addrinfoW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfoW* found = nullptr;
    std::wstring host = Utf8ToWide(r->host);
    std::wstring port = std::to_wstring(r->port);
    Address address;
    if (GetAddrInfoW(host.c_str(), port.c_str(), &hints, &found) == 0 && found != nullptr &&
        found->ai_addrlen <= sizeof(address.storage)) {
      std::memcpy(&address.storage, found->ai_addr, found->ai_addrlen);
      address.length = int(found->ai_addrlen);
    }
    if (found) FreeAddrInfoW(found);
    State& state = *r->state;
    std::lock_guard lock(state.mutex);
    state.resolving.erase(r->id);
    if (state.cancelled_resolving.erase(r->id) != 0 || state.stop) return 0;
    if (address.length == 0) {
      state.PostLocked(r->id, false);
      return 0;
    }
    if (state.to_connect.empty()) SetEvent(state.wake.get());
    state.to_connect.push_back({r->id, address, r->epoch});
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
    state_->prober = nullptr;
    state_->to_ui = Poster();
    state_->stop = true;
  }
  if (thread_) {
    SetEvent(state_->wake.get());
    // The thread wakes for the event and looks at `stop` first.
    WaitForSingleObject(thread_.get(), INFINITE);
  }
  // Resolutions still running hold the state and close what they open.
  if (wsa_) WSACleanup();
}

bool WinsockConnectProber::Create() {
  if (thread_) return true;
  WSADATA data;
  if (!wsa_) wsa_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  if (!wsa_ || !state_->wake || !state_->ready) return false;
  // On the UI thread that creates the prober: outcomes are handled there, in
  // the order the prober thread saw them.
  if (Dispatcher::ForThisThread().hwnd() == nullptr) return false;
  {
    std::lock_guard lock(state_->mutex);
    state_->to_ui = inbox_.poster();
    state_->prober = this;
  }
  auto* param = new std::shared_ptr<State>(state_);
  // Room for its window's calls into the system (reserved, not committed).
  thread_.reset(CreateThread(nullptr, 256 * 1024, &State::ThreadMain, param,
                             STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
  if (!thread_) {
    delete param;
    return false;
  }
  // The thread watches connects through a window of its own.
  WaitForSingleObject(state_->ready.get(), INFINITE);
  if (state_->events != nullptr) return true;
  WaitForSingleObject(thread_.get(), INFINITE);  // it ends at once without its window
  thread_.reset();
  return false;
}

core::ProbeStart WinsockConnectProber::Start(uint64_t id, std::string_view host, uint16_t port) {
  if (!thread_) return core::ProbeStart::kFailed;
  live_.insert(id);
  std::lock_guard lock(state_->mutex);
  // The thread takes the whole queue at once: only the first entry needs to
  // wake it (a wake costs a trip to the system, and a sweep starts a thousand).
  if (state_->to_start.empty()) SetEvent(state_->wake.get());
  state_->to_start.push_back({id, std::string(host), port, state_->epoch});
  return core::ProbeStart::kStarted;
}

void WinsockConnectProber::Cancel(uint64_t id) {
  if (live_.erase(id) == 0) return;
  std::lock_guard lock(state_->mutex);
  auto it = state_->connecting.find(id);
  if (it != state_->connecting.end()) {
    // The socket belongs to the prober thread, whose window may be told of its
    // connect at any moment: that thread closes it.
    if (state_->to_close.empty()) SetEvent(state_->wake.get());
    state_->to_close.push_back(std::move(it->second));
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
  for (auto& [id, s] : state_->connecting) state_->to_close.push_back(std::move(s));
  state_->connecting.clear();
  state_->cancelled_resolving.insert(state_->resolving.begin(), state_->resolving.end());
  state_->to_start.clear();
  state_->cancelled_start.clear();
  ++state_->epoch;
  SetEvent(state_->wake.get());
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
    if (live_.erase(id) == 0 || target_ == nullptr) continue;
    connected ? target_->OnProbeConnected(id) : target_->OnProbeRefused(id);
  }
  if (!arrived_.empty()) inbox_.Post([this] { TakeOutcomes(); });
}

}  // namespace win
