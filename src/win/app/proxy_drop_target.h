// ProxyDropTarget: the OLE drop target of the floating window. It takes dropped
// text (CF_UNICODETEXT when offered, else CF_TEXT in the ANSI code page) and
// posts it to its own thread, where the window's function does the adding once
// the drop has returned to the source. Lives inside its window object (the
// reference count never frees it); Revoke before the window goes. UI thread
// only (OLE calls it there).
#pragma once

#include <ole2.h>
#include <windows.h>

#include <functional>
#include <string>

#include "win/platform/dispatcher.h"

namespace win {


class ProxyDropTarget final : public IDropTarget {
 public:
  ProxyDropTarget() = default;
  ProxyDropTarget(const ProxyDropTarget&) = delete;
  ProxyDropTarget& operator=(const ProxyDropTarget&) = delete;

  // Takes the dropped text (UTF-8), after the drop.
  using Dropped = std::function<void(std::string text)>;

  // The window that registers as the drop target, and what takes its drops.
  void SetTarget(HWND window, Dropped dropped) {
    target_ = window;
    dropped_ = std::move(dropped);
  }
  // RegisterDragDrop for the target window; false when OLE refuses.
  bool Register();
  void Revoke();

  // The drag-enter and drag-over effects for a data object and key state.
  DWORD HandleDragEnter(IDataObject* data, DWORD key_state) const;
  DWORD HandleDragOver(IDataObject* data, DWORD key_state) const;
  // Takes the text and posts it; true when the text was taken.
  bool HandleDrop(IDataObject* data, DWORD key_state);

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  // IDropTarget
  HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* data, DWORD key_state, POINTL,
                                      DWORD* effect) override;
  HRESULT STDMETHODCALLTYPE DragOver(DWORD key_state, POINTL, DWORD* effect) override;
  HRESULT STDMETHODCALLTYPE DragLeave() override;
  HRESULT STDMETHODCALLTYPE Drop(IDataObject* data, DWORD key_state, POINTL,
                                 DWORD* effect) override;

 private:
  HWND target_ = nullptr;
  bool registered_ = false;
  IDataObject* current_ = nullptr;  // during a drag, between enter and leave/drop
  Dropped dropped_;
  Inbox inbox_;
};

// The text a data object offers, UTF-8; false when it offers no text.
bool ReadDroppedText(IDataObject* data, std::string* text);

}  // namespace win
