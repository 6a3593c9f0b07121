// Drawing of the program's own look: the dialog frame with its caption band, the
// push-button faces, the edit frame and the flat menu items. Every routine is a
// pure function of a device context, a rectangle and a state, so that it draws
// the same into a window and into a memory bitmap. Sizes are given at 96 dpi and
// scaled by the `dpi` of the state. Any thread, on a DC that thread owns.
#pragma once

#include <windows.h>

#include <string_view>

#include "win/skin/skin_dpi.h"

namespace win {

// Colours of the frame.
inline constexpr COLORREF kCaptionBlue = RGB(0, 83, 225);
inline constexpr COLORREF kLightBlue = RGB(0, 170, 255);
inline constexpr COLORREF kGlyphBlue = RGB(0, 100, 200);
inline constexpr COLORREF kShadowGrey = RGB(160, 160, 160);
inline constexpr COLORREF kOutlineGrey = RGB(128, 128, 128);
inline constexpr COLORREF kSkinWhite = RGB(255, 255, 255);
inline constexpr COLORREF kEditFrameBlue = RGB(0, 0, 255);

// Pens of the button borders.
inline constexpr COLORREF kHotLeft = RGB(250, 196, 88);
inline constexpr COLORREF kHotRight = RGB(251, 202, 106);
inline constexpr COLORREF kHotTop = RGB(252, 210, 121);
inline constexpr COLORREF kHotBottom = RGB(229, 151, 0);
inline constexpr COLORREF kFocusLeft = RGB(153, 198, 252);
inline constexpr COLORREF kFocusRight = RGB(162, 189, 252);
inline constexpr COLORREF kFocusTop = RGB(162, 201, 255);
inline constexpr COLORREF kFocusBottom = RGB(162, 201, 255);

// `color` moved `percent` % of the way to white, each channel truncated.
COLORREF Lighten(COLORREF color, int percent);

// ---- Dialog frame ----

// The frame rings are lines and stay 4 pixels thick at every DPI; the caption
// band below them is 20 pixels at 96 dpi.
inline constexpr int kFrameThickness = 4;
int CaptionBandHeight(int dpi);
// Distance from the window's top edge to the client area: frame plus band.
inline int SkinnedClientTop(int dpi) { return kFrameThickness + CaptionBandHeight(dpi); }

enum class CaptionButton { kClose, kMinimize, kMaximize };

// The box of a caption button in window coordinates of a window `window_width`
// wide; the same box is painted and clicked.
RECT CaptionButtonBox(CaptionButton button, int window_width, int dpi);

struct FrameLook {
  std::wstring_view title;
  HICON icon = nullptr;  // drawn at 16 x 16 (scaled); nullptr: none
  bool has_minimize = false;
  bool has_maximize = false;
  int dpi = kBaseDpi;
};

// Paints the whole frame of a window `width` x `height` whose client area begins
// `client_top` pixels below its top edge; `dc` is in window coordinates.
void PaintDialogFrame(HDC dc, int width, int height, int client_top, const FrameLook& look);

// ---- Push buttons ----

struct ButtonLook {
  bool hover = false;
  bool focus = false;
  bool pressed = false;
  bool is_default = false;
  bool disabled = false;
  std::wstring_view caption;  // '&' underlines the next character
  HFONT font = nullptr;       // nullptr: the DC's font
  COLORREF background = kSkinWhite;
  int edge_x = 2;  // SM_CXEDGE / SM_CYEDGE: the face is the item shrunk by these
  int edge_y = 2;
  int dpi = kBaseDpi;
};

// Entry `entry` (0..63) of the face gradient; `emphasis` is focus, pressed or
// default.
COLORREF ButtonGradientColor(int entry, bool hover, bool emphasis);

// Draws a button into `item` of `dc`, off screen first so that it never
// flickers: outline, gradient face, hot or focus border, caption.
void PaintButton(HDC dc, const RECT& item, const ButtonLook& look);

// ---- Edit boxes ----

// The 1-pixel blue frame of an edit box `width` x `height`, one pixel inside its
// window rectangle; `dc` is in window coordinates.
void PaintEditFrame(HDC dc, int width, int height);

// ---- Menu items (flat style) ----

struct MenuColors {
  COLORREF item;             // the item area
  COLORREF column;           // the check-mark column
  COLORREF selection_fill;   // under the selected item
  COLORREF selection_frame;  // around it
  COLORREF check_fill;       // the box behind a tick
  COLORREF check_frame;
  COLORREF text;
  COLORREF gray_text;           // disabled, not selected
  COLORREF gray_text_selected;  // disabled, selected
};

// The colours from the current system colours.
MenuColors FlatMenuColors();

struct MenuItemLook {
  std::wstring_view text;  // a tab splits it into left- and right-aligned parts
  bool separator = false;
  bool checked = false;
  bool selected = false;
  bool disabled = false;
  bool hide_prefix = false;  // draw '&' access keys without their underline
  HFONT font = nullptr;      // the menu font; nullptr: the DC's font
  int dpi = kBaseDpi;
  // A strip of outcomes drawn after the text, oldest first: '+' a green cell,
  // '-' a red one.
  std::string_view marks;
};

// Width of the check-mark column: the 16-pixel icon cell plus 7 of spacing.
int MenuColumnWidth(int dpi);

// Size of one item; `menu_height` is SM_CYMENU at the item's DPI. `dc` is only
// measured on.
SIZE MeasureMenuItem(HDC dc, const MenuItemLook& look, int menu_height);

// Draws one item into `item` of `dc`. Disabled items are never drawn selected.
void PaintMenuItem(HDC dc, const RECT& item, const MenuItemLook& look, const MenuColors& colors);

}  // namespace win
