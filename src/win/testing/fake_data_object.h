// FakeTextDataObject: an IDataObject offering text in CF_UNICODETEXT and/or
// CF_TEXT, what an editor or a browser hands to a drop target. Lives on the stack
// of a test (the reference count never frees it).
#pragma once

#include <ole2.h>
#include <windows.h>

#include <cstring>
#include <string>

namespace win {

class FakeTextDataObject final : public IDataObject {
 public:
  // Empty strings mean "format not offered".
  FakeTextDataObject(std::wstring unicode, std::string ansi)
      : unicode_(std::move(unicode)), ansi_(std::move(ansi)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IDataObject) {
      *out = static_cast<IDataObject*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE GetData(FORMATETC* fmt, STGMEDIUM* medium) override {
    if (QueryGetData(fmt) != S_OK) return DV_E_FORMATETC;
    const void* src = fmt->cfFormat == CF_UNICODETEXT ? static_cast<const void*>(unicode_.c_str())
                                                      : static_cast<const void*>(ansi_.c_str());
    size_t bytes = fmt->cfFormat == CF_UNICODETEXT ? (unicode_.size() + 1) * sizeof(wchar_t)
                                                   : ansi_.size() + 1;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
    std::memcpy(GlobalLock(block), src, bytes);
    GlobalUnlock(block);
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = block;
    medium->pUnkForRelease = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* fmt) override {
    if (!(fmt->tymed & TYMED_HGLOBAL)) return DV_E_TYMED;
    if (fmt->cfFormat == CF_UNICODETEXT && !unicode_.empty()) return S_OK;
    if (fmt->cfFormat == CF_TEXT && !ansi_.empty()) return S_OK;
    return DV_E_FORMATETC;
  }
  HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
    out->ptd = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
    return OLE_E_ADVISENOTSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
  HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override {
    return OLE_E_ADVISENOTSUPPORTED;
  }

 private:
  std::wstring unicode_;
  std::string ansi_;
};

}  // namespace win
