// Writing a downloaded file so that the previous copy survives every failure:
// the bytes go to a temporary file beside the target, and only Commit puts them
// in its place. FileWriter is the seam (UTF-8 names, as everywhere in the
// program); the Windows shell writes real files, tests keep them in memory.
// Used by the thread running the download.
#pragma once

#include <memory>
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

}  // namespace core
