#include "win/platform/win_file_writer.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <utility>

#include "win/platform/unique_handle.h"
#include "win/platform/wide_text.h"

namespace win {
namespace {

// Marks the open file for deletion when its last handle closes, or takes the
// mark back. The mark (unlike FILE_FLAG_DELETE_ON_CLOSE) can be taken back,
// which Commit does once the whole list is on the disk.
bool MarkForDeletion(HANDLE file, bool remove) {
  FILE_DISPOSITION_INFO info{};
  info.DeleteFile = remove ? TRUE : FALSE;
  return SetFileInformationByHandle(file, FileDispositionInfo, &info, sizeof(info)) != FALSE;
}

class WinPendingFile final : public core::PendingFile {
 public:
  WinPendingFile(std::wstring target, std::wstring temp, UniqueFileHandle file, bool marked)
      : target_(std::move(target)),
        temp_(std::move(temp)),
        file_(std::move(file)),
        marked_(marked) {}

  // Without a commit the handle closes with the deletion mark set; DeleteFileW
  // is for a file system that refused the mark.
  ~WinPendingFile() override {
    if (!file_.valid()) return;
    file_.reset();
    DeleteFileW(temp_.c_str());
  }

  bool Write(std::string_view bytes) override {
    while (!bytes.empty()) {
      DWORD piece = DWORD(std::min<size_t>(bytes.size(), 1u << 20));
      DWORD written = 0;
      if (!WriteFile(file_.get(), bytes.data(), piece, &written, nullptr) || written == 0) {
        return false;
      }
      bytes.remove_prefix(written);
    }
    return true;
  }

  bool Commit() override {
    // On the disk before it takes the old list's place: a crash or a power cut
    // right after the rename must not leave an empty or partial list.
    if (!FlushFileBuffers(file_.get())) return false;
    if (marked_ && !MarkForDeletion(file_.get(), false)) return false;
    file_.reset();
    if (MoveFileExW(temp_.c_str(), target_.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return true;
    }
    DeleteFileW(temp_.c_str());
    return false;
  }

 private:
  std::wstring target_;
  std::wstring temp_;
  UniqueFileHandle file_;
  bool marked_;
};

}  // namespace

std::unique_ptr<core::PendingFile> WinFileWriter::Begin(std::string_view path) {
  std::wstring target = Utf8ToWide(path);
  // The one temporary name of earlier versions, which a killed download of
  // theirs may have left.
  DeleteFileW((target + L".part").c_str());
  static std::atomic<unsigned> serial{0};
  std::wstring temp = target + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                      std::to_wstring(serial.fetch_add(1) + 1) + L".part";
  // DELETE access: the deletion mark needs it.
  UniqueFileHandle file(CreateFileW(temp.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return nullptr;
  // A file system that refuses the mark still gets the file: only the end of
  // the process in the middle of a download can then strand it.
  bool marked = MarkForDeletion(file.get(), true);
  return std::make_unique<WinPendingFile>(std::move(target), std::move(temp), std::move(file),
                                          marked);
}

}  // namespace win
