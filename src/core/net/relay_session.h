// One client connection of the local relay from its first byte until the tunnel is
// up (or the connection ends): reads the client's request, carries it through the
// first of the candidate proxies that completes its handshake, and says what to send
// each side. The caller owns both sockets, connects where candidate() says, reports
// what happened, and once phase() is kPiping copies bytes both ways itself. One
// session per connection, driven by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/net/proxy_failure.h"
#include "core/net/proxy_handshake.h"
#include "core/net/relay_inbound.h"
#include "core/net/upstream.h"

namespace core {

// A proxy the relay may carry a connection through, and how reports name it (the
// row's "host:port" text).
struct RelayCandidate {
  UpstreamProxy upstream;
  std::string label;
  uint64_t row = 0;  // an opaque tag chosen by whoever builds the route (a list row id)
};

// The relay tries at most this many candidates for one connection: the row in use
// and the next usable rows after it.
inline constexpr size_t kMaxRelayAttempts = 3;
// Why a candidate that names the relay's own port on this machine was passed over.
inline constexpr std::string_view kRelayLoopText = "代理地址就是本机中转自己，已跳过";

// One candidate that did not carry the connection.
struct RelayAttemptFailure {
  size_t attempt = 0;  // the candidate's index
  std::string label;
  ProxyFailure failure = ProxyFailure::kNone;
  std::string text;  // the handshake's FailureText(), or ProxyFailureText()
  uint64_t row = 0;  // the candidate's row
};

enum class RelayPhase : int {
  kReadingRequest = 0,  // feed the client's bytes
  kConnecting,          // connect to candidate() (a fresh socket for every attempt),
                        // sending the upstream output as soon as it is connected
  kHandshaking,         // send the upstream output, feed the upstream's bytes
  kPiping,              // send both outputs, then copy bytes both ways
  kClosing,             // send the client output, then close both sides
  kHeld,                // opened ahead: connected (and greeted) with no client yet;
                        // keep a read posted, any byte or close ends it
};

// Whether `failure` is the proxy's fault, so that another proxy may do better: not
// when the proxy reached out and the target itself was refused or unreachable, and
// not when the target cannot be named at all.
bool FailureBlamesProxy(ProxyFailure failure);

class RelaySession {
 public:
  // `candidates` beyond kMaxRelayAttempts are ignored; with none, a complete request
  // is answered with kProxyUnreachable.
  RelaySession(const RelayInboundOptions& options, std::vector<RelayCandidate> candidates);

  // A connection opened ahead of its client, to the first candidate: connects and
  // says what can be said before a target is known, then rests in kHeld. Called
  // instead of any client event; a failure closes it without output or failover.
  void OpenAhead();
  // kHeld: what the held connection has said (null when nothing needed saying),
  // for the client session that takes the connection over.
  std::unique_ptr<ProxyHandshake> TakeHeldHandshake();
  // Before the request is complete: the first candidate is already connected (and
  // greeted, with `greeted`), so its attempt starts with the request. If that
  // connection closes before it answers anything, the session asks for a fresh one
  // to the same candidate (a proxy may drop an idle connection just as it is used).
  void UseHeld(std::unique_ptr<ProxyHandshake> greeted);
  // The candidates are chosen when the request is complete, by its target (a
  // rotation that keeps one site on one row), instead of those given at the
  // start. Called before any client event; not with a held connection.
  using CandidateChooser = std::function<std::vector<RelayCandidate>(const NetTarget& target)>;
  void ChooseAtRequest(CandidateChooser choose) { choose_ = std::move(choose); }

  void OnClientData(std::string_view bytes);
  // The client closed or failed before the tunnel was up.
  void OnClientClosed();
  void OnUpstreamConnected();
  void OnUpstreamConnectFailed();
  void OnUpstreamData(std::string_view bytes);
  void OnUpstreamClosed();
  // The deadline of the current phase passed (reading the request, or connecting and
  // handshaking with one candidate).
  void OnTimedOut();

  RelayPhase phase() const { return phase_; }
  // kConnecting and later: the candidate being tried, and its index (which changes
  // when the session moves on to the next one).
  const RelayCandidate& candidate() const { return candidates_[attempt_]; }
  size_t attempt() const { return attempt_; }
  // Fresh connections asked for so far: kConnecting with a new count wants a new
  // socket (to the next candidate, or to the same one again).
  size_t connects() const { return connects_; }

  std::string TakeClientOutput();
  std::string TakeUpstreamOutput();

  // kClosing: why the connection ends, in the user's words.
  const std::string& end_reason() const { return end_reason_; }
  // The candidates that failed, in order.
  const std::vector<RelayAttemptFailure>& failures() const { return failures_; }
  const RelayInbound& inbound() const { return inbound_; }
  // On kPiping for a plain request: what of the client's later bytes still belongs
  // to its body. The rest (a pipelined second request) is never passed on: the
  // proxy was asked to close after its answer, and the client asks again on a new
  // connection, whose request the relay reads like the first.
  std::optional<HttpBodyReader> TakeRequestBody() { return inbound_.TakeRequestBody(); }

 private:
  bool CandidateIsRelay() const;
  void RequestReady();
  void StartAttempt();
  void DropHeld(std::string reason);
  void AfterHandshakeFeed();
  void AttemptFailed(ProxyFailure failure, std::string text);
  void Close(std::string reason);
  void StartPiping(std::string to_client, std::string to_upstream);

  RelayInbound inbound_;
  std::vector<RelayCandidate> candidates_;
  CandidateChooser choose_;
  uint16_t listen_port_;
  size_t attempt_ = 0;
  size_t connects_ = 0;
  bool ahead_ = false;    // this session holds a connection opened ahead
  bool held_ = false;     // the first candidate is connected already
  bool on_held_ = false;  // the current attempt runs on that connection
  bool heard_upstream_ = false;
  std::unique_ptr<ProxyHandshake> greeted_;
  RelayPhase phase_ = RelayPhase::kReadingRequest;
  std::unique_ptr<ProxyHandshake> handshake_;
  std::string to_client_;
  std::string to_upstream_;
  std::string early_payload_;
  std::string end_reason_;
  std::vector<RelayAttemptFailure> failures_;
};

}  // namespace core
