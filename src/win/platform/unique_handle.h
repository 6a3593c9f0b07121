// Scoped Win32 resources. UniqueHandle: sole ownership of one handle, closed
// exactly once by the function its traits name; move-only; any thread, like the
// handle it holds. WindowDc, SelectedObject and OleScope put back what they took
// when the scope ends, on the thread that made them. Sockets: unique_socket.h.
#pragma once

#include <windows.h>
// After windows.h, which it builds on.
#include <ole2.h>

#include <utility>

namespace win {

// Traits: `Handle` type, `Invalid()` (the value meaning "none") and `Close(h)`,
// called only for handles that are not Invalid().
template <typename Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle) : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  Handle get() const { return handle_; }
  bool valid() const { return handle_ != Traits::Invalid(); }
  explicit operator bool() const { return valid(); }

  // Gives up ownership without closing.
  Handle release() { return std::exchange(handle_, Traits::Invalid()); }

  // Closes the current handle (unless it is `handle` itself) and takes `handle`.
  void reset(Handle handle = Traits::Invalid()) {
    Handle old = std::exchange(handle_, handle);
    if (old != Traits::Invalid() && old != handle) Traits::Close(old);
  }

 private:
  Handle handle_ = Traits::Invalid();
};

// Events, threads, mutexes, processes: "none" is nullptr.
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { CloseHandle(h); }
};

// CreateFile and the Toolhelp snapshots: "none" is INVALID_HANDLE_VALUE.
struct FileHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { CloseHandle(h); }
};

struct RegKeyTraits {
  using Handle = HKEY;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { RegCloseKey(h); }
};

// Icons from CreateIcon*/LoadImage without LR_SHARED (shared icons must not be
// destroyed and are not held in a UniqueIcon).
struct IconTraits {
  using Handle = HICON;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { DestroyIcon(h); }
};

// A menu that is not attached to a window (a window destroys its own menu).
struct MenuTraits {
  using Handle = HMENU;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { DestroyMenu(h); }
};

// Pens, brushes, fonts, bitmaps, regions. Must not be selected into a DC when the
// owner goes away.
template <typename T>
struct GdiObjectTraits {
  using Handle = T;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { DeleteObject(h); }
};

// A DC of its own from CreateCompatibleDC. Objects selected into it go back
// first: a SelectedObject declared after the DC does that.
struct MemoryDcTraits {
  using Handle = HDC;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { DeleteDC(h); }
};

using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFileHandle = UniqueHandle<FileHandleTraits>;
using UniqueRegKey = UniqueHandle<RegKeyTraits>;
using UniqueIcon = UniqueHandle<IconTraits>;
using UniqueMenu = UniqueHandle<MenuTraits>;
using UniqueFont = UniqueHandle<GdiObjectTraits<HFONT>>;
using UniqueBrush = UniqueHandle<GdiObjectTraits<HBRUSH>>;
using UniquePen = UniqueHandle<GdiObjectTraits<HPEN>>;
using UniqueBitmap = UniqueHandle<GdiObjectTraits<HBITMAP>>;
using UniqueMemoryDc = UniqueHandle<MemoryDcTraits>;

// A window's DC, released to that window when the scope ends: GetDC's (the
// client area; the screen's for a null window), or from WholeWindow,
// GetWindowDC's (the frame included). Not valid when the system gave none.
class WindowDc {
 public:
  explicit WindowDc(HWND hwnd) : WindowDc(hwnd, GetDC(hwnd)) {}
  static WindowDc WholeWindow(HWND hwnd) { return WindowDc(hwnd, GetWindowDC(hwnd)); }
  ~WindowDc() {
    if (dc_ != nullptr) ReleaseDC(hwnd_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;

  HDC get() const { return dc_; }
  explicit operator bool() const { return dc_ != nullptr; }

 private:
  WindowDc(HWND hwnd, HDC dc) : hwnd_(hwnd), dc_(dc) {}

  HWND hwnd_;
  HDC dc_;
};

// Selects a pen, brush, font or bitmap into a DC for the life of the scope, then
// selects back what it replaced. A null object (or a failed selection) leaves
// the DC alone. Not for regions: selecting one answers a kind of region, not
// the object it replaced. Declare it after the object and the DC it uses.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object)
      : dc_(dc), old_(object != nullptr ? SelectObject(dc, object) : nullptr) {}
  ~SelectedObject() {
    if (old_ != nullptr) SelectObject(dc_, old_);
  }
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// OLE (drag and drop, the clipboard, shell links) on the calling thread for the
// life of the scope. Undone at the end only if it was done: S_FALSE (OLE was on
// already) counts, and is balanced like a first start. Made and destroyed on
// one thread.
class OleScope {
 public:
  OleScope() : ok_(SUCCEEDED(OleInitialize(nullptr))) {}
  ~OleScope() {
    if (ok_) OleUninitialize();
  }
  OleScope(const OleScope&) = delete;
  OleScope& operator=(const OleScope&) = delete;

  bool ok() const { return ok_; }

 private:
  bool ok_;
};

}  // namespace win
