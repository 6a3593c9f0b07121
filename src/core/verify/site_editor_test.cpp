#include "core/verify/site_editor.h"

#include <gtest/gtest.h>

namespace core {
namespace {

TEST(SiteEditorTest, ConfirmedSites) {
  struct Case {
    const char* url;
    const char* verify;
    const char* scheme;
    const char* rest;
  } cases[] = {
      {"ifconfig.me/ip", "ip-address", "http://", "ifconfig.me/ip"},  // no scheme typed
      {"  HTTP://Example.com/Path  ", "hello", "http://", "Example.com/Path"},
      {"http://h/", "H", "http://", "h/"},  // case-sensitive test against the URL
      {"ftp://files.example.org/", "", "ftp://", "files.example.org/"},
      {"FTP://h/", "h", "ftp://", "h/"},  // FTP sites skip the verify-string test
  };
  for (const Case& c : cases) {
    SiteEditorResult r;
    std::optional<SiteEditorRefusal> refusal = ConfirmSiteEditor({c.url, "", "", c.verify}, &r);
    ASSERT_FALSE(refusal.has_value()) << c.url << " / " << c.verify;
    EXPECT_EQ(r.scheme, c.scheme) << c.url;
    EXPECT_EQ(r.rest, c.rest) << c.url;
  }
}

TEST(SiteEditorTest, RefusedSites) {
  struct Case {
    const char* url;
    const char* verify;
    SiteEditorField focus;
    const char* caption;
  } cases[] = {
      {"https://h/", "", SiteEditorField::kVerifyString, "请重新修改验证字符串"},
      {"gopher://h/", "x", SiteEditorField::kUrl, "未知的协议头"},
      {"h/a://b", "x", SiteEditorField::kUrl, "未知的协议头"},
      {"http://ifconfig.me/", "ifconfig.me", SiteEditorField::kVerifyString,
       "请重新修改验证字符串"},
      {"http://h/", "", SiteEditorField::kVerifyString, "请重新修改验证字符串"},
      {"http://h/", "  \t ", SiteEditorField::kVerifyString, "请重新修改验证字符串"},
      {"example.com", "example", SiteEditorField::kVerifyString, "请重新修改验证字符串"},
      {"http://h/", "http", SiteEditorField::kVerifyString, "请重新修改验证字符串"},
  };
  for (const Case& c : cases) {
    SiteEditorResult r{"untouched", "untouched"};
    std::optional<SiteEditorRefusal> refusal = ConfirmSiteEditor({c.url, "", "", c.verify}, &r);
    ASSERT_TRUE(refusal.has_value()) << c.url << " / " << c.verify;
    EXPECT_EQ(refusal->focus, c.focus) << c.url;
    EXPECT_EQ(refusal->caption, c.caption) << c.url;
    EXPECT_EQ(r.scheme, "untouched") << c.url;
  }
  SiteEditorResult r;
  EXPECT_EQ(ConfirmSiteEditor({"gopher://h/", "", "", "x"}, &r)->message,
            "协议未知，请确定URL是以“http://”、“https://”或者“ftp://”起始的");
  // https is a web site like http, with the same verify-string rule.
  ASSERT_FALSE(ConfirmSiteEditor({"https://h/", "", "", "x"}, &r));
  EXPECT_EQ(ComposeSiteUrl(r, "", ""), "https://h/");
  EXPECT_EQ(ConfirmSiteEditor({"http://h/", "", "", "h"}, &r)->message,
            "验证字符串中不能使用URL中出现的内容，否则验证将不可靠");
}

TEST(SiteEditorTest, ComposeAndSplitRoundTrip) {
  SiteEditorResult r;
  ASSERT_FALSE(ConfirmSiteEditor({"http://h/x", " u ", "p", "ok"}, &r));
  std::string url = ComposeSiteUrl(r, " u ", "p");
  EXPECT_EQ(url, "http://u:p@h/x");
  SiteEditorFields back = SplitSiteUrl(url, "ok");
  EXPECT_EQ(back.url, "http://h/x");
  EXPECT_EQ(back.user, "u");
  EXPECT_EQ(back.password, "p");
  EXPECT_EQ(back.verify_string, "ok");
  EXPECT_EQ(ComposeSiteUrl(r, "  ", "secret"), "http://h/x");  // no user: no password
}

TEST(SiteEditorTest, SplitStoredUrls) {
  struct Case {
    const char* stored;
    const char* url;
    const char* user;
    const char* password;
  } cases[] = {
      {"http://h/x", "http://h/x", "", ""},
      {"HTTP://u:p@h/x", "http://h/x", "u", "p"},
      {"ftp://anon@h/", "ftp://h/", "anon", ""},
      {"ftp://u:p:q@h/", "ftp://h/", "u", "p:q"},
      {"h/x@y", "h/x@y", "", ""},  // no recognised scheme: unchanged
      {"HTTPS://u:p@h/", "https://h/", "u", "p"},
      {"http://:p@h/", "http://:p@h/", "", "p"},  // no user: the URL stays as it is
      // An "@" after the host belongs to the path or the query.
      {"http://h/mail@x", "http://h/mail@x", "", ""},
      {"http://h?to=a@b", "http://h?to=a@b", "", ""},
      {"http://u:p@h/a@b", "http://h/a@b", "u", "p"},
      {"http://u:p@ss@h/", "http://h/", "u", "p@ss"},
  };
  for (const Case& c : cases) {
    SiteEditorFields f = SplitSiteUrl(c.stored, "v");
    EXPECT_EQ(f.url, c.url) << c.stored;
    EXPECT_EQ(f.user, c.user) << c.stored;
    EXPECT_EQ(f.password, c.password) << c.stored;
  }
}

}  // namespace
}  // namespace core
