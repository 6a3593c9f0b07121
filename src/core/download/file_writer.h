// Writing a downloaded file so that the previous copy survives every failure:
// the bytes go to a temporary file beside the target, and only Commit puts them
// in its place. FileWriter is the seam; DiskFileWriter writes real files (UTF-8
// names, as everywhere in the program). Used by the thread running the download.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace core {

// A file being written. Destroying it without a successful Commit removes the
// temporary file and leaves the target as it was.
class PendingFile {
 public:
  virtual ~PendingFile() = default;
  // Appends `bytes`; false when they could not be written (disk full, drive gone).
  virtual bool Write(std::string_view bytes) = 0;
  // Flushes and closes the temporary file and replaces the target with it.
  // False when any of that failed; the target is then as it was.
  virtual bool Commit() = 0;
};

class FileWriter {
 public:
  virtual ~FileWriter() = default;
  // Starts writing `path` (UTF-8). Null when the temporary file cannot be created
  // (folder missing or not writable).
  virtual std::unique_ptr<PendingFile> Begin(std::string_view path) = 0;
};

// The temporary file is `path` followed by kPendingSuffix; a stale one from an
// interrupted run is overwritten.
class DiskFileWriter final : public FileWriter {
 public:
  static constexpr std::string_view kPendingSuffix = ".part";
  std::unique_ptr<PendingFile> Begin(std::string_view path) override;
};

}  // namespace core
