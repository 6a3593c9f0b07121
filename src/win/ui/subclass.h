#pragma once

#include <windows.h>

// Window subclassing kept inside the process. The skin hooks its procedures in
// front of dialogs, buttons and edits; the system's own subclass helpers look
// the chain up in a window property on every message, and Wine serves each
// property read through its server. A list view painting a screen of rows
// sends its dialog hundreds of notifications, so those reads cost the user
// interface a round trip each while the verification workers keep the server
// busy. Here the chain lives in a table of the window's own thread.
//
// The procedures have the system's subclass signature. The newest procedure
// sees a message first; CallNextSubclass hands it on to the one added before,
// and finally to the window's own procedure. Procedures may be added or
// removed while a message is being handled (removing itself on WM_NCDESTROY
// is the usual case); the chain is dropped after WM_NCDESTROY.
namespace win {

using SubclassProc = LRESULT(CALLBACK*)(HWND, UINT, WPARAM, LPARAM, UINT_PTR id, DWORD_PTR ref);

// Adds `proc` with `id` in front of the window's procedure, or replaces the
// reference data when that pair is already there. Fails for a window of
// another thread.
bool AddSubclass(HWND hwnd, SubclassProc proc, UINT_PTR id, DWORD_PTR ref);
bool RemoveSubclass(HWND hwnd, SubclassProc proc, UINT_PTR id);
// The reference data of a procedure in the window's chain.
bool FindSubclass(HWND hwnd, SubclassProc proc, UINT_PTR id, DWORD_PTR* ref);
// The same, as the object the reference data points at; null when absent.
template <typename T>
T* SubclassData(HWND hwnd, SubclassProc proc, UINT_PTR id) {
  DWORD_PTR ref = 0;
  return FindSubclass(hwnd, proc, id, &ref) ? reinterpret_cast<T*>(ref) : nullptr;
}
// From inside a subclass procedure: the next procedure's answer.
LRESULT CallNextSubclass(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);

}  // namespace win
