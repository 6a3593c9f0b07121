#include "core/download/download_done.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/base/file_path.h"

namespace core {
namespace {

namespace fs = std::filesystem;

constexpr char kUrl[] = "http://127.0.0.1/list.txt";
constexpr char kListFile[] = "2.2.2.2:80$<保留ip>\r\n1.1.1.1:80\r\nnot a proxy\r\n";

TEST(DownloadDoneTest, ImportsOnlyACompleteDownloadWithTheSettingsInForce) {
  const fs::path dir = fs::temp_directory_path() / "relaymoth_download_done";
  fs::create_directories(dir);
  const std::string path = PathToUtf8(dir / "Download.txt");

  struct Case {
    const char* name;
    int result;
    bool report;
    bool keep;
    bool favorite;
    std::vector<std::string> rows;  // addresses afterwards; the list held 1.1.1.1 and 9.9.9.9
    int favorites;
    std::string message;  // beginning of the message shown; "" for none
    const char* body = kListFile;
    bool short_lived = false;
  } cases[] = {
      {"user, keep",
       0,
       true,
       true,
       false,
       {"1.1.1.1", "9.9.9.9", "2.2.2.2"},
       0,
       "ip服务器信息共3条"},
      {"silent, replace, favorite", 0, false, false, true, {"2.2.2.2", "1.1.1.1"}, 2, ""},
      {"user, failed",
       1,
       true,
       false,
       true,
       {"1.1.1.1", "9.9.9.9"},
       0,
       "下载中发生错误\n服务器返回错误"},
      {"silent, failed", 3, false, false, false, {"1.1.1.1", "9.9.9.9"}, 0, ""},
      {"short-lived link, whatever keep says",
       0,
       true,
       false,
       true,
       {"1.1.1.1", "9.9.9.9", "3.3.3.3"},
       1,
       "短效IP：新增 1，保留 0，移除 0，列表中已有 1",
       R"([{"ip":"3.3.3.3","port":80,"ttl":60},{"ip":"1.1.1.1","port":80}])",
       true},
      {"json with a log-in",
       0,
       true,
       false,
       false,
       {"4.4.4.4"},
       0,
       "ip服务器信息共1条",
       R"({"data":[{"ip":"4.4.4.4","port":1080,"user":"u","pass":"p"}]})"},
      {"provider error",
       0,
       true,
       false,
       false,
       {"1.1.1.1", "9.9.9.9"},
       0,
       "下载中发生错误\n服务商返回错误：余额不足",
       R"({"code":121,"msg":"余额不足"})"},
  };
  for (const Case& c : cases) {
    std::ofstream(PathFromUtf8(path), std::ios::binary | std::ios::trunc) << c.body;
    ProxyList list;
    list.AddProxy("1.1.1.1:80", false);
    list.AddProxy("9.9.9.9:8080", false);
    DownloadSettings settings;
    settings.keep_existing = c.keep;
    settings.add_as_favorite = c.favorite;
    settings.SetShortLived(kUrl, c.short_lived);
    DownloadOutcome outcome;
    outcome.result = c.result;
    if (c.result != 0) outcome.reason = "服务器返回错误 (HTTP 404)";
    GbkCodec codec;
    DownloadDoneAction action = HandleDownloadDone(outcome, c.report, kUrl, path, settings, list,
                                                   codec, AnswerTime{1'800'000'000, 0});

    bool refused = c.result != 0 || c.message.starts_with(kMsgDownloadFailed);
    EXPECT_EQ(action.imported, !refused) << c.name;
    EXPECT_EQ(action.sources_changed, !refused) << c.name;
    std::vector<std::string> rows;
    for (size_t i = 0; i < list.size(); ++i) rows.emplace_back(list.row(i).address);
    EXPECT_EQ(rows, c.rows) << c.name;
    EXPECT_EQ(list.favorite_count(), c.favorites) << c.name;
    // A downloaded list cannot make a row reserved. Its rows are the link's;
    // the user's are not.
    for (size_t i = 0; i < list.size(); ++i) {
      EXPECT_FALSE(list.IsReserved(i)) << c.name;
      std::string_view a = list.row(i).address;
      bool from_link = action.import.cleared || (a != "9.9.9.9" && a != "1.1.1.1");
      EXPECT_EQ(list.RowSource(i) != 0, from_link) << c.name << " " << a;
    }
    if (c.message.empty()) {
      EXPECT_EQ(action.message, "") << c.name;
    } else {
      EXPECT_EQ(action.message.rfind(c.message, 0), 0u) << c.name << ": " << action.message;
      EXPECT_FALSE(action.caption.empty()) << c.name;
    }
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace core
