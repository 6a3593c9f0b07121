// Speed of the list download's own work: a 10 MB list fetched from an
// in-memory server into a real file (temporary file, chunked writes, progress
// texts, the final rename), so the procedure's overhead shows apart from the
// network's. Reports bytes per second.
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/base/file_path.h"
#include "core/download/download_file.h"

namespace {

namespace fs = std::filesystem;

class SteadyClock final : public core::Clock {
 public:
  uint32_t NowMs() override { return now_ += 3; }

 private:
  uint32_t now_ = 0;
};

class MemoryResponse final : public core::UrlResponse {
 public:
  explicit MemoryResponse(const std::string& body) : body_(body) {}
  int status() const override { return 200; }
  std::optional<uint64_t> content_length() const override { return body_.size(); }
  core::ReadResult Read(char* buffer, size_t capacity) override {
    size_t n = std::min(capacity, body_.size() - offset_);
    std::memcpy(buffer, body_.data() + offset_, n);
    offset_ += n;
    return {true, n};
  }

 private:
  const std::string& body_;
  size_t offset_ = 0;
};

class MemorySession final : public core::UrlSession {
 public:
  explicit MemorySession(const std::string& body) : body_(body) {}
  std::unique_ptr<core::UrlResponse> OpenUrl(std::string_view) override {
    return std::make_unique<MemoryResponse>(body_);
  }

 private:
  const std::string& body_;
};

struct CountingProgress final : core::DownloadProgress {
  size_t updates = 0;
  void OnText(std::string_view text) override { updates += text.size() != 0; }
  void OnPosition(int) override {}
};

std::string ListBody(size_t bytes) {
  std::string body;
  body.reserve(bytes + 32);
  for (uint32_t i = 0; body.size() < bytes; ++i) {
    body += std::to_string(1 + i % 223) + "." + std::to_string(i / 223 % 256) + "." +
            std::to_string(i / 57088 % 256) + ".7:" + std::to_string(1024 + i % 60000) + "\r\n";
  }
  body.resize(bytes);
  return body;
}

// Files on disk as the program writes them: a temporary file beside the target,
// renamed into place on commit.
class BenchFileWriter final : public core::FileWriter {
 public:
  std::unique_ptr<core::PendingFile> Begin(std::string_view path) override {
    class Pending final : public core::PendingFile {
     public:
      explicit Pending(fs::path target)
          : target_(std::move(target)), temp_(target_.string() + ".part"),
            out_(temp_, std::ios::binary | std::ios::trunc) {}
      ~Pending() override {
        if (!done_) {
          out_.close();
          std::error_code ec;
          fs::remove(temp_, ec);
        }
      }
      bool Write(std::string_view bytes) override {
        out_.write(bytes.data(), std::streamsize(bytes.size()));
        return bool(out_);
      }
      bool Commit() override {
        out_.flush();
        out_.close();
        std::error_code ec;
        fs::rename(temp_, target_, ec);
        done_ = !ec;
        return done_;
      }

     private:
      fs::path target_;
      fs::path temp_;
      std::ofstream out_;
      bool done_ = false;
    };
    auto pending = std::make_unique<Pending>(core::PathFromUtf8(path));
    return pending;
  }
};

void BM_FetchUrlToFile10MB(benchmark::State& state) {
  const std::string body = ListBody(10u << 20);
  const fs::path dir = fs::temp_directory_path() / "relaymoth_download_bench";
  fs::create_directories(dir);
  const std::string path = core::PathToUtf8(dir / "Download.txt");
  MemorySession session(body);
  BenchFileWriter files;
  SteadyClock clock;
  CountingProgress progress;
  for (auto _ : state) {
    core::DownloadOutcome out =
        core::FetchUrlToFile(session, files, clock, "http://127.0.0.1/list.txt", path, &progress);
    if (out.result != core::kDownloadOk) state.SkipWithError(out.reason.c_str());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(body.size()));
  fs::remove_all(dir);
}
BENCHMARK(BM_FetchUrlToFile10MB)->Unit(benchmark::kMillisecond);

}  // namespace
