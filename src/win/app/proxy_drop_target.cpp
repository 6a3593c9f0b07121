#include "win/app/proxy_drop_target.h"

#include <cstring>

#include "win/platform/wide_text.h"

namespace win {
namespace {

// A dropped text larger than this is cut there: nobody drags 16 MB of proxies,
// and the limit keeps a hostile drag source from exhausting memory.
constexpr size_t kMaxDropBytes = 16u << 20;

bool Offers(IDataObject* data, CLIPFORMAT format) {
  if (data == nullptr) return false;
  FORMATETC fmt{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  return data->QueryGetData(&fmt) == S_OK;
}

bool OffersText(IDataObject* data) { return Offers(data, CF_UNICODETEXT) || Offers(data, CF_TEXT); }

// The block's text up to its first zero (or its end, whichever is first).
template <typename Char>
std::basic_string<Char> BlockText(HGLOBAL block) {
  std::basic_string<Char> out;
  const auto* chars = static_cast<const Char*>(GlobalLock(block));
  if (chars == nullptr) return out;
  size_t limit = std::min<size_t>(GlobalSize(block), kMaxDropBytes) / sizeof(Char);
  size_t n = 0;
  while (n < limit && chars[n] != 0) ++n;
  out.assign(chars, n);
  GlobalUnlock(block);
  return out;
}

bool GetText(IDataObject* data, CLIPFORMAT format, std::string* text) {
  FORMATETC fmt{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM medium{};
  if (data->GetData(&fmt, &medium) != S_OK) return false;
  bool ok = medium.tymed == TYMED_HGLOBAL && medium.hGlobal != nullptr;
  if (ok) {
    if (format == CF_UNICODETEXT) {
      *text = WideToUtf8(BlockText<wchar_t>(medium.hGlobal));
    } else {
      *text = WideToUtf8(CodePageToWide(BlockText<char>(medium.hGlobal), CP_ACP));
    }
  }
  ReleaseStgMedium(&medium);
  return ok;
}

}  // namespace

bool ReadDroppedText(IDataObject* data, std::string* text) {
  if (data == nullptr) return false;
  // Current editors and browsers offer Unicode text; the ANSI form loses every
  // character outside the code page.
  if (Offers(data, CF_UNICODETEXT) && GetText(data, CF_UNICODETEXT, text)) return true;
  return Offers(data, CF_TEXT) && GetText(data, CF_TEXT, text);
}

bool ProxyDropTarget::Register() {
  if (target_ == nullptr) return false;
  registered_ = RegisterDragDrop(target_, this) == S_OK;
  return registered_;
}

void ProxyDropTarget::Revoke() {
  if (registered_ && target_ != nullptr) RevokeDragDrop(target_);
  registered_ = false;
}

// The text is copied, never moved: a move would make the source (an editor,
// a browser) delete what the user dragged, and sources that offer copy only
// would be refused.
DWORD ProxyDropTarget::HandleDragEnter(IDataObject* data, DWORD) const {
  return OffersText(data) ? DROPEFFECT_COPY : DROPEFFECT_NONE;
}

DWORD ProxyDropTarget::HandleDragOver(IDataObject* data, DWORD key_state) const {
  if (!OffersText(data)) return DROPEFFECT_NONE;
  return (key_state & MK_CONTROL) ? DROPEFFECT_NONE : DROPEFFECT_COPY;
}

bool ProxyDropTarget::HandleDrop(IDataObject* data, DWORD key_state) {
  // The drop lands only where the drag-over would accept it: not with Ctrl held.
  if (HandleDragOver(data, key_state) == DROPEFFECT_NONE) return false;
  std::string text;
  if (!ReadDroppedText(data, &text)) return false;
  inbox_.Post([this, text = std::move(text)]() mutable {
    if (dropped_) dropped_(std::move(text));
  });
  return true;
}

HRESULT ProxyDropTarget::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDropTarget) {
    *object = static_cast<IDropTarget*>(this);
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

HRESULT ProxyDropTarget::DragEnter(IDataObject* data, DWORD key_state, POINTL, DWORD* effect) {
  current_ = data;
  if (effect) *effect = HandleDragEnter(data, key_state) & *effect;
  return S_OK;
}

HRESULT ProxyDropTarget::DragOver(DWORD key_state, POINTL, DWORD* effect) {
  if (effect) *effect = HandleDragOver(current_, key_state) & *effect;
  return S_OK;
}

HRESULT ProxyDropTarget::DragLeave() {
  current_ = nullptr;
  return S_OK;
}

HRESULT ProxyDropTarget::Drop(IDataObject* data, DWORD key_state, POINTL, DWORD* effect) {
  current_ = nullptr;
  bool taken = HandleDrop(data, key_state);
  if (effect) *effect = taken ? (DROPEFFECT_COPY & *effect) : DROPEFFECT_NONE;
  return S_OK;
}

}  // namespace win
