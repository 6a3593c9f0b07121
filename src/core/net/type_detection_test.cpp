#include "core/net/type_detection.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace core {
namespace {

using S = HandshakeState;
using F = ProxyFailure;

TEST(TypeDetectionTest, WhatCountsAsAnAnswer) {
  struct Case {
    S state;
    F failure;
    bool answered;
  } cases[] = {
      {S::kTunnelUp, F::kNone, true},           {S::kFailed, F::kRefused, true},
      {S::kFailed, F::kAuthRequired, true},     {S::kFailed, F::kAuthRefused, true},
      {S::kFailed, F::kHostUnreachable, true},  {S::kFailed, F::kNotSocks5, false},
      {S::kFailed, F::kNotSocks4, false},       {S::kFailed, F::kNotHttpProxy, false},
      {S::kFailed, F::kBadReply, false},        {S::kFailed, F::kTimeout, false},
      {S::kFailed, F::kSocks4NeedsIpv4, false}, {S::kInProgress, F::kNone, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AnsweredInProtocol(c.state, c.failure), c.answered) << int(c.failure);
  }
}

// Lanes in order HTTP, SOCKS5, SOCKS4; 'a' answered, 'n' ended without an
// answer, '.' still running. The race is decided by the first lane in order that
// answered once the lanes before it have ended, whatever the order of the ends.
TEST(TypeDetectionTest, TheFirstAnswerInOrderWins) {
  struct Case {
    const char* lanes;
    bool decided;
    std::optional<size_t> winner;
  } cases[] = {
      {"...", false, std::nullopt},
      {"a..", true, 0},              // an HTTP proxy: the silent SOCKS probes are not waited for
      {".a.", false, std::nullopt},  // SOCKS5 answered; HTTP may still answer
      {"na.", true, 1},              // a SOCKS server refused the HTTP request at its first byte
      {"n.a", false, std::nullopt},
      {"nna", true, 2},
      {"aaa", true, 0},  // a mixed port, whatever answered first
      {"nnn", true, std::nullopt},
      {"nn.", false, std::nullopt},
  };
  for (const Case& c : cases) {
    DetectionRace race;
    for (size_t i = 0; i < kDetectionLanes; ++i) {
      char l = c.lanes[i];
      race.Set(i, l == 'a'   ? LaneAnswer::kAnswered
                  : l == 'n' ? LaneAnswer::kNoAnswer
                             : LaneAnswer::kPending);
    }
    EXPECT_EQ(race.decided(), c.decided) << c.lanes;
    EXPECT_EQ(race.winner(), c.winner) << c.lanes;
  }
  // A lane's first word is final.
  DetectionRace race;
  race.Set(0, LaneAnswer::kNoAnswer);
  race.Set(0, LaneAnswer::kAnswered);
  EXPECT_EQ(race.lane(0), LaneAnswer::kNoAnswer);
}

TEST(TypeDetectionTest, OutcomeOfEndedProbes) {
  using P = ProxyProtocol;
  const HandshakeAttempt kUp{S::kTunnelUp, F::kNone};
  const HandshakeAttempt kSilent{S::kFailed, F::kTimeout};
  const HandshakeAttempt kDead{S::kFailed, F::kProxyUnreachable};
  const HandshakeAttempt kLogin{S::kFailed, F::kAuthRefused};
  struct Case {
    std::array<HandshakeAttempt, kDetectionLanes> lanes;  // HTTP, SOCKS5, SOCKS4
    std::optional<ProxyProtocol> protocol;
    F failure;
    bool connected;
  } cases[] = {
      {{kSilent, kLogin, kSilent}, P::kSocks5, F::kAuthRefused, true},
      {{kSilent, kSilent, kSilent}, std::nullopt, F::kTimeout, true},
      {{kDead, kDead, kDead}, std::nullopt, F::kProxyUnreachable, false},
      // A probe cut off while running counts as no answer.
      {{HandshakeAttempt{S::kInProgress, F::kNone}, kSilent, kUp}, P::kSocks4, F::kNone, true},
  };
  for (const Case& c : cases) {
    DetectionOutcome out = DetectionOutcomeOf(c.lanes);
    EXPECT_EQ(out.protocol, c.protocol);
    EXPECT_EQ(out.attempt.failure, c.failure);
    EXPECT_EQ(out.connected, c.connected);
  }
}

// Each failure says its own thing in both languages: a value missing from a
// text's switch falls back to another failure's words.
TEST(ProxyFailureTest, EveryFailureHasTextsOfItsOwn) {
  std::map<std::string, int> chinese, english;
  for (int f = int(ProxyFailure::kBadTarget); f <= int(ProxyFailure::kProxyUnreachable); ++f) {
    std::string zh = ProxyFailureText(ProxyFailure(f));
    std::string en = ProxyFailureEnglish(ProxyFailure(f));
    EXPECT_FALSE(zh.empty()) << f;
    EXPECT_FALSE(en.empty()) << f;
    EXPECT_TRUE(chinese.emplace(zh, f).second) << f << " says what " << chinese[zh] << " says";
    EXPECT_TRUE(english.emplace(en, f).second) << f << " says what " << english[en] << " says";
  }
}

}  // namespace
}  // namespace core
