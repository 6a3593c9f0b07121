// The guard process as the operating system sees it: starting the program
// again as the guard of this process, the guard's wait for the process it
// guards, and the words of the command line. Any thread.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "core/app/guard_command.h"
#include "win/platform/unique_handle.h"

namespace win {

// This process as its guard names it: its id and its start time.
core::GuardCommand ThisProcessForGuard();

// Starts `program` with `leading` (words of its own, may be empty) and the
// guard's words for this process. The guard inherits no handle, runs in the
// system folder (so that the program's folder stays free to be replaced), and
// leaves a job this process runs in when the job allows it, so that closing
// the job does not take the guard along. Returns the guard's process handle,
// or none when it could not be started.
UniqueKernelHandle StartGuardProcess(const std::wstring& program,
                                     const std::wstring& leading = L"");

// Returns when the process `command` names has ended: at once when it is gone
// already, or when the id now belongs to a process started at another time.
void WaitForGuardedProcess(const core::GuardCommand& command);

// The words of this process's command line after the program's name, in UTF-8.
std::vector<std::string> CommandLineWords();

}  // namespace win
