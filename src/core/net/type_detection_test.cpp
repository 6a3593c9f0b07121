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

TEST(TypeDetectionTest, TriesSocks5ThenSocks4ThenHttpAndStopsAtTheFirstAnswer) {
  TypeDetection silent;
  std::vector<ProxyProtocol> tried;
  while (silent.current()) {
    tried.push_back(*silent.current());
    EXPECT_FALSE(silent.OnAttemptEnded(S::kFailed, F::kBadReply));
  }
  EXPECT_EQ(tried, (std::vector<ProxyProtocol>{ProxyProtocol::kSocks5, ProxyProtocol::kSocks4,
                                               ProxyProtocol::kHttp}));
  EXPECT_FALSE(silent.answered());

  TypeDetection socks4;
  EXPECT_FALSE(socks4.OnAttemptEnded(S::kFailed, F::kNotSocks5));
  EXPECT_TRUE(socks4.OnAttemptEnded(S::kFailed, F::kRefused));  // said no, in SOCKS4
  EXPECT_TRUE(socks4.answered());
  EXPECT_EQ(socks4.current(), ProxyProtocol::kSocks4);
  EXPECT_EQ(TypeWordOf(*socks4.current()), "SOCKS4");
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
