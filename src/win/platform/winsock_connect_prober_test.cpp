// WinsockConnectProber with the real connect gate over loopback ports that
// accept, refuse, or drop the handshake (a listener with a full accept queue).
// Winsock before windows.h (which the prober's header brings).
#include "win/platform/winsock_connect_prober.h"

#include <gtest/gtest.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "win/platform/unique_socket.h"
#include "win/platform/win_clock.h"
#include "win/testing/report_functions.h"

namespace win {
namespace {

constexpr uint32_t kTimeoutMs = 1500;

uint16_t PortOf(SOCKET s) {
  sockaddr_in a{};
  int n = sizeof(a);
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
  return ntohs(a.sin_port);
}

UniqueSocket Listener(int backlog) {
  UniqueSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s.get(), reinterpret_cast<sockaddr*>(&a), sizeof(a));
  listen(s.get(), backlog);
  return s;
}

// Connects to `port` without waiting; true when the handshake completed within
// `ms`.
bool Handshake(uint16_t port, DWORD ms, std::vector<UniqueSocket>* keep) {
  const SOCKET s = keep->emplace_back(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)).get();
  u_long nb = 1;
  ioctlsocket(s, FIONBIO, &nb);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a));
  fd_set w;
  FD_ZERO(&w);
  FD_SET(s, &w);
  timeval t{0, long(ms) * 1000};
  return select(0, nullptr, &w, nullptr, &t) == 1;
}

class Recorder final : public core::ConnectGateListener {
 public:
  std::map<std::string, std::string> outcome;  // host:port → connected/refused/timeout/...
  int connected = 0;
  int unreachable = 0;
  core::ConnectGate* gate = nullptr;
  void OnRowUnreachable(const core::GateRow& row, core::ConnectFailure f) override {
    const char* why[] = {"refused", "timeout", "not started", "unusable"};
    outcome[row.host + ":" + row.port] = why[int(f)];
    ++unreachable;
  }
  void OnRowsReady() override {
    while (auto row = gate->TakeReady()) {
      outcome[row->host + ":" + row->port] = "connected";
      ++connected;
    }
  }
};

// Runs the UI thread's messages and the gate's deadline until the gate is idle.
bool PumpUntilIdle(core::ConnectGate& gate, DWORD timeout_ms) {
  DWORD start = GetTickCount();
  while (!gate.idle()) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    gate.OnTick();
    if (GetTickCount() - start > timeout_ms) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  return true;
}

class WinsockConnectProberTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(prober.Create());
    recorder.gate = &gate;
    to_gate.Set([this](uint64_t id, bool ok) { ok ? gate.OnConnected(id) : gate.OnRefused(id); });
    prober.SetReportTarget(&to_gate);
    accepting_port = PortOf(keep.emplace_back(Listener(SOMAXCONN)).get());
    hole_port = PortOf(keep.emplace_back(Listener(0)).get());
    // Fill the accept queue: once a handshake hangs, the port drops SYNs.
    bool filled = false;
    for (int i = 0; i < 8 && !filled; ++i) filled = !Handshake(hole_port, 300, &keep);
    ASSERT_TRUE(filled) << "the accept queue of the black-holed port never filled";
  }

  WinsockScope winsock;
  ProbeReportFunction to_gate;  // declared before the prober, which reports to it
  WinsockConnectProber prober;
  WinClock clock;
  Recorder recorder;
  core::ConnectGate gate{prober, clock, recorder, core::GateSettings{kTimeoutMs, 100}};
  std::vector<UniqueSocket> keep;  // closed before the prober and Winsock go
  uint16_t accepting_port = 0;
  uint16_t hole_port = 0;  // drops every handshake

  // The prober closes cancelled sockets on its own thread: waits for it a while.
  int OpenSocketsAfterClosing() {
    DWORD start = GetTickCount();
    while (prober.open_sockets() > 0 && GetTickCount() - start < 2000) Sleep(5);
    return prober.open_sockets();
  }
};

TEST_F(WinsockConnectProberTest, AcceptingRefusingAndBlackHoledPorts) {
  UniqueSocket closed = Listener(1);
  uint16_t refusing = PortOf(closed.get());
  closed.reset();

  std::string a = std::to_string(accepting_port);
  std::string r = std::to_string(refusing);
  std::string h = std::to_string(hole_port);
  gate.Begin({{0, "127.0.0.1", a},
              {1, "127.0.0.1", r},
              {2, "127.0.0.1", h},
              {3, "localhost", a},
              {4, "no-such-host.invalid", a},
              {5, "127.0.0.1", "0"}});
  gate.Pump();
  ASSERT_TRUE(PumpUntilIdle(gate, 20000)) << "the probes did not end";
  std::map<std::string, std::string> expected = {{"127.0.0.1:" + a, "connected"},
                                                 {"127.0.0.1:" + r, "refused"},
                                                 {"127.0.0.1:" + h, "timeout"},
                                                 {"localhost:" + a, "connected"},
                                                 {"no-such-host.invalid:" + a, "refused"},
                                                 {"127.0.0.1:0", "unusable"}};
  EXPECT_EQ(recorder.outcome, expected);
  // The timed-out probe was cancelled and its socket closed.
  EXPECT_EQ(OpenSocketsAfterClosing(), 0);
}

TEST_F(WinsockConnectProberTest, AStaleEventNeverLandsOnASocketGivenTheSameHandle) {
  std::map<uint64_t, bool> reported;
  to_gate.Set([&](uint64_t id, bool ok) { reported[id] = ok; });
  // Each round cancels a connect to the accepting port about when it ends and
  // starts one to the black-holed port, whose socket is often given the
  // cancelled one's handle while the cancelled connect's event is still queued.
  for (uint64_t round = 0; round < 1000; ++round) {
    const int before = prober.open_sockets();
    ASSERT_EQ(prober.Start(2 * round, "127.0.0.1", accepting_port), core::ProbeStart::kStarted);
    // The cancel lands from 0 to 2 ms after the connect has been made.
    double began = PreciseMs();
    while (prober.open_sockets() == before && PreciseMs() - began < 20) {
    }
    const double cancel_at = PreciseMs() + double(round % 40) * 0.05;
    while (PreciseMs() < cancel_at) {
    }
    prober.Cancel(2 * round);
    prober.Start(2 * round + 1, "127.0.0.1", hole_port);
  }
  DWORD start = GetTickCount();
  while (GetTickCount() - start < 500) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  // A cancelled probe may have been reported before its cancel; a black-holed
  // one is still connecting and never is.
  for (auto& [id, ok] : reported) {
    if (id % 2 == 1) ADD_FAILURE() << "black-holed probe " << id << " reported " << ok;
  }
  prober.CancelAll();
}

TEST_F(WinsockConnectProberTest, ManyProbesInFlightAndAStop) {
  // 100 black-holed probes in flight at once.
  std::vector<core::GateRow> rows;
  for (size_t i = 0; i < 100; ++i) rows.push_back({i, "127.0.0.1", std::to_string(hole_port)});
  gate.Begin(rows);
  gate.Pump();
  EXPECT_EQ(gate.in_flight(), 100u);
  gate.Stop();
  EXPECT_EQ(OpenSocketsAfterClosing(), 0);
  // Nothing of the stopped run is reported; a new run over 100 accepting
  // probes all connect.
  rows.clear();
  for (size_t i = 0; i < 100; ++i) {
    rows.push_back({i, "127.0.0.1", std::to_string(accepting_port)});
  }
  EXPECT_EQ(recorder.unreachable + recorder.connected, 0);
  // The outcomes are all waiting before the UI thread looks, and each report
  // takes a while: they are handed on in slices, and a message posted behind
  // them is handled before the last of them, not after all of them.
  to_gate.Set([this](uint64_t id, bool ok) {
    Sleep(1);
    ok ? gate.OnConnected(id) : gate.OnRefused(id);
  });
  gate.Begin(rows);
  gate.Pump();
  DWORD waited = GetTickCount();
  while (prober.queued_outcomes() < 100 && GetTickCount() - waited < 5000) Sleep(5);
  ASSERT_EQ(prober.queued_outcomes(), 100u);
  constexpr UINT kMarker = WM_APP + 1;
  PostThreadMessageW(GetCurrentThreadId(), kMarker, 0, 0);
  int connected_at_marker = -1;
  waited = GetTickCount();
  while ((!gate.idle() || connected_at_marker < 0) && GetTickCount() - waited < 10000) {
    MSG msg;
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
      continue;
    }
    if (msg.message == kMarker) connected_at_marker = recorder.connected;
    DispatchMessageW(&msg);
  }
  EXPECT_EQ(recorder.connected, 100);
  EXPECT_EQ(recorder.unreachable, 0);
  EXPECT_GT(connected_at_marker, 0);
  EXPECT_LT(connected_at_marker, 100);
}

}  // namespace
}  // namespace win
