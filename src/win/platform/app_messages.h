// The program's own window messages, all in one block above WM_APP: none can
// meet a system, dialog or control message (the WM_USER range belongs to each
// window class), nor another of the program's. Every part that posts to a
// window of its own takes its number here. Any thread may post them.
#pragma once

#include <windows.h>

namespace win {

inline constexpr UINT kAppMessageFirst = WM_APP + 0x100;

// A worker's run ended (worker thread -> the pool's report window): wParam =
// slot, lParam = generation. Progress is not posted: nothing shows it, and 200
// workers' progress posts would queue the UI thread's messages behind them.
inline constexpr UINT WM_VERIFY_DONE = kAppMessageFirst + 0;
// The pool's own: start the threads of new workers, a few at a time.
inline constexpr UINT WM_SPAWN_WORKERS = kAppMessageFirst + 1;
// The connect prober's: outcomes wait to be handed to the UI thread.
inline constexpr UINT WM_PROBE_OUTCOMES = kAppMessageFirst + 2;
// On the prober thread's window: a socket's connect ended (WSAAsyncSelect;
// wParam the socket, lParam the event and its error).
inline constexpr UINT WM_PROBE_SOCKET_EVENT = kAppMessageFirst + 3;
// On the same window, right after a socket was closed before its connect
// ended: an event for that handle queued ahead of it is stale.
inline constexpr UINT WM_PROBE_SOCKET_CLOSED = kAppMessageFirst + 4;
// The browser cleanup before an automatic switch ended: wParam = the run's
// number (CleanupRunner::TakeFinished), lParam = 0.
inline constexpr UINT WM_CLEANUP_DONE = kAppMessageFirst + 5;
// At least one exit fetch ended: wParam and lParam 0
// (PostingExitFetcher::TakeResults).
inline constexpr UINT WM_EXIT_FETCH_DONE = kAppMessageFirst + 6;
// A list download ended, posted to the job's window: wParam = the result code
// (core::DownloadResult, 0..4), lParam = 1 for a download the user started, 0
// for an automatic one (DownloadJob::TakeFinished gives the rest).
inline constexpr UINT WM_DOWNLOAD_DONE = kAppMessageFirst + 7;
// New download progress to show, posted to the job's window (never more than
// one waits in the queue; DownloadJob::TakeProgress).
inline constexpr UINT WM_DOWNLOAD_PROGRESS = kAppMessageFirst + 8;
// Text was dropped on the floating window: wParam = the address of the drop
// target's text field, lParam = 0.
inline constexpr UINT WM_PROXY_DROPPED = kAppMessageFirst + 9;
// The tray icon's mouse messages (the icon's callback message).
inline constexpr UINT WM_TRAY_NOTIFY = kAppMessageFirst + 10;
// The list imports' own (ListImports): wParam 0 when the worker has read its
// file, 1 when a verification ended and read rows may move in; lParam 0.
inline constexpr UINT WM_LIST_IMPORT_READ = kAppMessageFirst + 12;
// The local relay has failure reports for the UI thread (RelayService), posted
// to the service's window when the first report of a batch arrives: wParam and
// lParam 0.
inline constexpr UINT WM_RELAY_REPORTS = kAppMessageFirst + 13;
// The thread's dispatcher has posted functions to run (Dispatcher): wParam
// and lParam 0.
inline constexpr UINT WM_DISPATCH = kAppMessageFirst + 14;
// Free for test programs and benchmarks of their own.
inline constexpr UINT WM_TEST_FIRST = kAppMessageFirst + 0x80;

inline constexpr UINT kAppMessageLast = WM_TEST_FIRST + 0x7F;
static_assert(kAppMessageLast < 0xC000, "registered messages start at 0xC000");

}  // namespace win
