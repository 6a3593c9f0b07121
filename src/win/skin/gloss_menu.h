// GlossMenu: a popup menu drawn in the program's flat style. It owns a loaded
// menu and turns every item below the top level into an owner-drawn item with a
// record of its text; the window that tracks the menu draws those items by
// passing its WM_MEASUREITEM, WM_DRAWITEM and WM_MENUCHAR to
// HandleGlossMenuMessage (AttachGlossMenuHandler does that for it). UI thread only.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "win/platform/unique_handle.h"

namespace win {

// What the menu keeps for one owner-drawn item.
struct GlossItemRecord {
  std::wstring text;
  bool separator = false;
  ULONG_PTR app_data = 0;  // the item data the item carried before
  std::string marks;       // an outcome strip drawn after the text (MenuItemLook::marks)
};

class GlossMenu {
 public:
  GlossMenu() = default;
  // Takes `menu` and converts its items (see Convert). An invalid menu gives an
  // empty GlossMenu.
  explicit GlossMenu(UniqueMenu menu);
  // Loads menu resource `menu_id`; an empty GlossMenu when it does not exist.
  static GlossMenu Load(HINSTANCE instance, int menu_id);

  GlossMenu(GlossMenu&& other) noexcept;
  GlossMenu& operator=(GlossMenu&& other) noexcept;
  ~GlossMenu();

  HMENU get() const { return menu_.get(); }
  explicit operator bool() const { return menu_.valid(); }
  // The pop-up at `position` of the top level; nullptr when there is none.
  HMENU SubMenu(int position) const;

  // Appends an owner-drawn item to `popup` (this menu or one of its pop-ups):
  // `flags` are MF_ flags (MF_CHECKED, MF_GRAYED, MF_SEPARATOR ...), the text is
  // UTF-8, `marks` an outcome strip to draw after it. False when the item could
  // not be added.
  bool AppendItem(HMENU popup, UINT flags, UINT_PTR command, std::string_view text,
                  std::string_view marks = {});

  // Converts the items added with the plain menu functions since the last
  // conversion; items already owner-drawn are left alone.
  void Convert();

 private:
  void ConvertLevel(HMENU menu, bool top_level);
  GlossItemRecord* NewRecord(std::wstring text, bool separator, ULONG_PTR app_data);
  void Clear();

  std::vector<std::unique_ptr<GlossItemRecord>> records_;
  UniqueMenu menu_;  // destroyed before the records it points to
};

// Handles WM_MEASUREITEM, WM_DRAWITEM and WM_MENUCHAR for the items of live
// GlossMenus and returns true with `*result` set; returns false for anything
// else (other owner-drawn items included), leaving `*result` alone.
bool HandleGlossMenuMessage(HWND owner, UINT msg, WPARAM wparam, LPARAM lparam, LRESULT* result);

// Subclasses `owner` so that it handles the messages above by itself; for
// windows that track GlossMenus and do not forward them. Idempotent; the
// subclass removes itself when the window is destroyed.
bool AttachGlossMenuHandler(HWND owner);

// The access key of a menu text: the character after the first single '&',
// upper-cased; 0 when there is none.
wchar_t MenuAccessKey(std::wstring_view text);

}  // namespace win
