// WinFileWriter: the list download's FileWriter on the Win32 file functions.
// The bytes go to a temporary file beside the target, which the system deletes
// when its handle closes, so that a download cut off by the end of the process
// (its thread killed in the middle of a read) leaves nothing behind; Commit
// flushes it to the disk, keeps it and puts it in the target's place. A pending
// file belongs to the thread running the download; Begin is for any thread.
#pragma once

#include <memory>
#include <string_view>

#include "core/download/file_writer.h"

namespace win {

class WinFileWriter final : public core::FileWriter {
 public:
  // The temporary file is "<target>.<process>-<n>.part", a name of its own
  // for every Begin: a cancelled download that still holds its file does not
  // stand in the way of the next. Null when it cannot be created (folder
  // missing or not writable).
  std::unique_ptr<core::PendingFile> Begin(std::string_view path) override;
};

}  // namespace win
