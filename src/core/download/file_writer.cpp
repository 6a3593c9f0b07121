#include "core/download/file_writer.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "core/base/file_path.h"

namespace core {
namespace {

class DiskPendingFile final : public PendingFile {
 public:
  DiskPendingFile(std::filesystem::path target, std::filesystem::path temp, std::ofstream out)
      : target_(std::move(target)), temp_(std::move(temp)), out_(std::move(out)) {}

  ~DiskPendingFile() override {
    if (committed_) return;
    out_.close();
    std::error_code ec;
    std::filesystem::remove(temp_, ec);
  }

  bool Write(std::string_view bytes) override {
    out_.write(bytes.data(), std::streamsize(bytes.size()));
    return bool(out_);
  }

  bool Commit() override {
    out_.close();
    if (!out_) return false;
    // A rename within one folder replaces the target in one step (MoveFileEx
    // with replace-existing on Windows), so a reader sees the old list or the
    // new one, never a mixture.
    std::error_code ec;
    std::filesystem::rename(temp_, target_, ec);
    if (ec) return false;
    committed_ = true;
    return true;
  }

 private:
  std::filesystem::path target_;
  std::filesystem::path temp_;
  std::ofstream out_;
  bool committed_ = false;
};

}  // namespace

std::unique_ptr<PendingFile> DiskFileWriter::Begin(std::string_view path) {
  std::filesystem::path target = PathFromUtf8(path);
  std::filesystem::path temp = PathFromUtf8(std::string(path) + std::string(kPendingSuffix));
  std::ofstream out(temp, std::ios::binary | std::ios::trunc);
  if (!out) return nullptr;
  return std::make_unique<DiskPendingFile>(std::move(target), std::move(temp), std::move(out));
}

}  // namespace core
