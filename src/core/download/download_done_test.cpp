#include "core/download/download_done.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/base/file_path.h"

namespace core {
namespace {

namespace fs = std::filesystem;

TEST(DownloadDoneTest, ImportsOnlyACompleteDownloadWithTheSettingsInForce) {
  const fs::path dir = fs::temp_directory_path() / "relaymoth_download_done";
  fs::create_directories(dir);
  const std::string path = PathToUtf8(dir / "Download.txt");
  std::ofstream(PathFromUtf8(path), std::ios::binary)
      << "2.2.2.2:80$<保留ip>\r\n1.1.1.1:80\r\nnot a proxy\r\n";

  struct Case {
    const char* name;
    int result;
    bool report;
    bool keep;
    bool favorite;
    std::vector<std::string> rows;  // addresses afterwards; the list held 1.1.1.1 and 9.9.9.9
    int favorites;
    std::string message;  // beginning of the message shown; "" for none
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
  };
  for (const Case& c : cases) {
    ProxyList list;
    list.AddProxy("1.1.1.1:80", false);
    list.AddProxy("9.9.9.9:8080", false);
    DownloadSettings settings;
    settings.keep_existing = c.keep;
    settings.add_as_favorite = c.favorite;
    DownloadOutcome outcome{c.result, c.result == 0 ? "" : "服务器返回错误 (HTTP 404)", 0};
    GbkCodec codec;
    DownloadDoneAction action = HandleDownloadDone(outcome, c.report, "http://127.0.0.1/list.txt", path, settings, list, codec);

    EXPECT_EQ(action.imported, c.result == 0) << c.name;
    std::vector<std::string> rows;
    for (size_t i = 0; i < list.size(); ++i) rows.emplace_back(list.row(i).address);
    EXPECT_EQ(rows, c.rows) << c.name;
    EXPECT_EQ(list.favorite_count(), c.favorites) << c.name;
    // A downloaded list cannot make a row reserved.
    for (size_t i = 0; i < list.size(); ++i) EXPECT_FALSE(list.IsReserved(i)) << c.name;
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
