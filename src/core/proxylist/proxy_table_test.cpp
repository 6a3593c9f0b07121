#include "core/proxylist/proxy_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace core {
namespace {

TEST(ProxyTableTest, ProvidersTablesByTheirHeader) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> lines;  // empty: not a table
  } cases[] = {
      {"ip,port,user,pass",
       "ip,port,user,pass\r\n1.2.3.4,8080,u1,p1\n5.6.7.8,3128,,\n",
       {"1.2.3.4:8080:u1:p1", "5.6.7.8:3128"}},
      {"TSV with a type column and a BOM",
       "\xEF\xBB\xBFHost\tPort\tUsername\tPassword\tProtocol\n1.2.3.4\t1080\tme\tpw\tsocks5h\n",
       {"socks5://me:pw@1.2.3.4:1080"}},
      {"quoted cells, other columns, semicolons",
       "\"country\";\"IP\";\"端口\";\"密码\";\"用户名\"\n\"CN\";\"1.2.3.4\";\"80\";\"a;\"\"b\";"
       "\"u\"",
       {"1.2.3.4:80:u:a;\"b"}},
      {"bad rows passed over, duplicates once",
       "ip,port\n,80\n1.2.3.4,99999\n1.2.3.4,80\n1.2.3.4,80\n",
       {"1.2.3.4:80"}},
      {"no port column", "ip,country\n1.2.3.4,CN\n", {}},
      {"a list, not a table", "1.2.3.4:80\n5.6.7.8:80\n", {}},
      {"a header and no row that makes a proxy", "ip,port\n,\n", {}},
  };
  for (const Case& c : cases) {
    std::optional<ExtractedProxies> found = ReadProxyTable(c.text);
    ASSERT_EQ(found.has_value(), !c.lines.empty()) << c.name;
    if (found) EXPECT_EQ(found->lines, c.lines) << c.name;
  }
}

TEST(ProxyTableTest, AProvidersErrorAnswerSaysWhy) {
  const struct {
    std::string text;
    const char* said;
  } cases[] = {
      {"{\"code\":403,\"msg\":\"白名单未添加\",\"data\":[]}", "白名单未添加（代码 403）"},
      {" {\"success\":false,\"error\":{\"message\":\"key\\nexpired\"}}", "key expired"},
      {"{\"code\":0,\"data\":[]}", ""},
      {"[\"not an object\"]", ""},
      {"{\"msg\": \"" + std::string(300, 'x') + "\"}", nullptr},
  };
  for (const auto& c : cases) {
    std::string said = ProviderErrorText(c.text);
    if (c.said) {
      EXPECT_EQ(said, c.said) << c.text;
    } else {
      EXPECT_EQ(said, std::string(200, 'x'));
    }
  }
}

}  // namespace
}  // namespace core
