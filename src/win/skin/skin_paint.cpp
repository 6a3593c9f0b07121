#include "win/skin/skin_paint.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>

#include "win/platform/unique_handle.h"

namespace win {
namespace {

void Fill(HDC dc, const RECT& rect, COLORREF color) {
  COLORREF old = SetBkColor(dc, color);
  // An opaque empty text output fills a rectangle without creating a brush.
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
  SetBkColor(dc, old);
}

void Frame(HDC dc, const RECT& rect, COLORREF color) {
  if (rect.right <= rect.left || rect.bottom <= rect.top) return;
  Fill(dc, {rect.left, rect.top, rect.right, rect.top + 1}, color);
  Fill(dc, {rect.left, rect.bottom - 1, rect.right, rect.bottom}, color);
  Fill(dc, {rect.left, rect.top, rect.left + 1, rect.bottom}, color);
  Fill(dc, {rect.right - 1, rect.top, rect.right, rect.bottom}, color);
}

// Draws a polyline with a pen of `width` and `color`, from the first point up
// to, not including, the last.
void Lines(HDC dc, COLORREF color, int width, std::initializer_list<POINT> points) {
  UniquePen pen(CreatePen(PS_SOLID, width, color));
  SelectedObject selected(dc, pen.get());
  POINT old{};
  const POINT* p = points.begin();
  MoveToEx(dc, p->x, p->y, &old);
  for (++p; p != points.end(); ++p) LineTo(dc, p->x, p->y);
  MoveToEx(dc, old.x, old.y, nullptr);
}

void SolidEllipse(HDC dc, const RECT& box, COLORREF color) {
  UniqueBrush brush(CreateSolidBrush(color));
  SelectedObject pen(dc, GetStockObject(NULL_PEN));
  SelectedObject selected(dc, brush.get());
  // With the null pen the ellipse is the interior only, as the joint needs.
  Ellipse(dc, box.left, box.top, box.right, box.bottom);
}

RECT Offset(RECT box, int dx, int dy) {
  OffsetRect(&box, dx, dy);
  return box;
}

// One pixel of a drawing that is pixel art at 96 dpi, as a block at `dpi`.
int PixelUnit(int dpi) { return std::max(1, dpi / kBaseDpi); }

// Where the caption stripe of row `y` ends, relative to the left edge of the
// caption's white block. The look is set at 96 dpi for the rows 1, 4, ... 19;
// a row at another DPI takes the end of that curve at the same height of the
// band, scaled.
int StripeEnd(int y, int dpi) {
  static constexpr int kEndsAt96[] = {5, 3, 0, -1, -1, -3, -6};
  constexpr int kLast = int(std::size(kEndsAt96)) - 1;
  const double step = (double(y) * kBaseDpi / std::max(dpi, 1) - 1) / 3;
  double end = kEndsAt96[0];
  if (step >= kLast) {
    end = kEndsAt96[kLast];
  } else if (step > 0) {
    const int i = int(step);
    end = kEndsAt96[i] + (kEndsAt96[i + 1] - kEndsAt96[i]) * (step - i);
  }
  return int(std::lround(end * std::max(dpi, 1) / kBaseDpi));
}

}  // namespace

COLORREF Lighten(COLORREF color, int percent) {
  auto channel = [percent](int v) { return v + percent * (255 - v) / 100; };
  return RGB(channel(GetRValue(color)), channel(GetGValue(color)), channel(GetBValue(color)));
}

// ---- Dialog frame ----

int CaptionBandHeight(int dpi) { return ScaleByDpi(20, dpi); }

RECT CaptionButtonBox(CaptionButton button, int w, int dpi) {
  auto s = [dpi](int v) { return ScaleByDpi(v, dpi); };
  int right = 0;
  switch (button) {
    case CaptionButton::kClose: right = s(5); break;
    case CaptionButton::kMaximize: right = s(23); break;
    case CaptionButton::kMinimize: right = s(41); break;
  }
  return {w - right - s(16), s(6), w - right, s(20)};
}

void PaintDialogFrame(HDC dc, int w, int h, int t, const FrameLook& look) {
  auto s = [&look](int v) { return ScaleByDpi(v, look.dpi); };
  for (int i = 0; i < 3; ++i) Frame(dc, {i, i, w - i, h - i}, kCaptionBlue);
  Frame(dc, {3, 3, w - 3, h - 3}, kSkinWhite);
  Lines(dc, kLightBlue, 1, {{2, 2}, {2, h - 3}, {w - 3, h - 3}, {w - 3, 2}});
  Lines(dc, kSkinWhite, 1, {{4, t - 1}, {w - 5, t - 1}});

  // The band: blue on the left, a white block on the right for the glyphs, and
  // a rounded joint between them.
  const int block = w - s(64);
  Fill(dc, {1, 2, block + 1, t - 1}, kCaptionBlue);
  // The block reaches the inner white ring at every DPI (x = w - 4).
  Fill(dc, {block, 3, w - 4, t}, kSkinWhite);
  Fill(dc, {block - s(7), t - s(8), block, t - s(8) + s(7)}, kSkinWhite);
  Fill(dc, {block, 2, block + s(7), 2 + s(7)}, kCaptionBlue);
  SolidEllipse(dc, {block - s(14), t - s(13), block, t}, kCaptionBlue);
  SolidEllipse(dc, {block, 3, block + s(14), 3 + s(14)}, kSkinWhite);

  // Stripes every third row, one pixel thick at every DPI; their ends follow
  // the rounded joint and never run onto its white.
  for (int y = 1; y < t - 4; y += 3) {
    int end = block + StripeEnd(y, look.dpi);
    while (end > 3) {
      const COLORREF under = GetPixel(dc, end - 1, y);
      if (under == kCaptionBlue || under == CLR_INVALID) break;
      --end;
    }
    Lines(dc, kLightBlue, 1, {{3, y}, {end, y}});
  }
  SetPixelV(dc, w - 4, 3, kCaptionBlue);
  SetPixelV(dc, w - 4, h - 4, kCaptionBlue);

  if (look.icon != nullptr) {
    DrawIconEx(dc, 4, 3, look.icon, s(16), s(16), 0, nullptr, DI_NORMAL);
  }

  const int bar = s(3);
  const RECT close = CaptionButtonBox(CaptionButton::kClose, w, look.dpi);
  for (int pass = 0; pass < 2; ++pass) {
    const int shift = pass == 0 ? 1 : 0;
    const COLORREF color = pass == 0 ? kShadowGrey : kGlyphBlue;
    const RECT b = Offset(close, shift, shift);
    Lines(dc, color, bar, {{b.left + 3, b.top + 3}, {b.right - 4, b.bottom - 3}});
    Lines(dc, color, bar, {{b.right - 4, b.top + 3}, {b.left + 3, b.bottom - 3}});
  }
  if (look.has_minimize) {
    const RECT box = CaptionButtonBox(CaptionButton::kMinimize, w, look.dpi);
    for (int pass = 0; pass < 2; ++pass) {
      const RECT b = Offset(box, 1 - pass, 1 - pass);
      Lines(dc, pass == 0 ? kShadowGrey : kGlyphBlue, bar,
            {{b.left + 3, b.bottom - 3}, {b.right - 4, b.bottom - 3}});
    }
  }
  if (look.has_maximize) {
    const RECT box = CaptionButtonBox(CaptionButton::kMaximize, w, look.dpi);
    for (int pass = 0; pass < 2; ++pass) {
      const RECT b = Offset(box, 1 - pass, 1 - pass);
      Lines(dc, pass == 0 ? kShadowGrey : kGlyphBlue, bar,
            {{b.left + 3, b.top + 3}, {b.right - 4, b.top + 3}});
      Lines(dc, pass == 0 ? kOutlineGrey : kGlyphBlue, 1,
            {{b.right - 3, b.top + 2},
             {b.right - 3, b.bottom - 1},
             {b.left + 2, b.bottom - 1},
             {b.left + 2, b.top + 1}});
    }
  }

  // The title is clipped at its box: a long title ends where the box ends.
  UniqueFont font(CreateFontW(s(12), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                              OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                              DEFAULT_PITCH, L"宋体"));
  SelectedObject selected(dc, font.get());
  const int old_mode = SetBkMode(dc, OPAQUE);
  const COLORREF old_bk = SetBkColor(dc, kCaptionBlue);
  const COLORREF old_text = SetTextColor(dc, kSkinWhite);
  RECT title{30, 3, w - s(81), t - 3};
  if (title.right > title.left && !look.title.empty()) {
    DrawTextW(dc, look.title.data(), int(look.title.size()), &title,
              DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_NOPREFIX);
  }
  SetTextColor(dc, old_text);
  SetBkColor(dc, old_bk);
  SetBkMode(dc, old_mode);
}

// ---- Push buttons ----

COLORREF ButtonGradientColor(int entry, bool hover, bool emphasis) {
  entry = std::clamp(entry, 0, 63);
  const int red_green = 255 - entry / (hover ? 4 : 3);
  const int blue = 255 - (emphasis ? entry / (hover ? 3 : 4) : entry / 5);
  return RGB(red_green, red_green, blue);
}

void PaintButton(HDC target, const RECT& item, const ButtonLook& look) {
  const int width = item.right - item.left;
  const int height = item.bottom - item.top;
  if (width <= 0 || height <= 0) return;
  UniqueMemoryDc memory(CreateCompatibleDC(target));
  if (!memory) return;
  const HDC dc = memory.get();
  UniqueBitmap bitmap(CreateCompatibleBitmap(target, width, height));
  {
    SelectedObject bitmap_selected(dc, bitmap.get());
    SetViewportOrgEx(dc, -item.left, -item.top, nullptr);
    Fill(dc, item, look.background);

    UniquePen outline(CreatePen(PS_INSIDEFRAME, 1, RGB(0, 0, 0)));
    {
      SelectedObject pen(dc, outline.get());
      SelectedObject brush(dc, GetStockObject(WHITE_BRUSH));
      RoundRect(dc, item.left, item.top, item.right, item.bottom, 5, 5);
    }

    const bool emphasis = look.focus || look.pressed || look.is_default;
    const RECT face{item.left + look.edge_x, item.top + look.edge_y, item.right - look.edge_x,
                    item.bottom - look.edge_y};
    const int h = face.bottom - face.top;
    // h + 1 rows: the last one lies on the face's bottom edge and is the darkest.
    for (int k = 0; k <= h; ++k) {
      const int entry = h > 0 ? 63 * k / h : 0;
      Fill(dc, {face.left, face.top + k, face.right, face.top + k + 1},
           ButtonGradientColor(entry, look.hover, emphasis));
    }

    if (look.hover || look.focus) {
      const int thick = ScaleByDpi(3, look.dpi);
      const int thin = ScaleByDpi(2, look.dpi);
      const bool hot = look.hover;
      Lines(dc, hot ? kHotLeft : kFocusLeft, thick,
            {{face.left, face.bottom - 1}, {face.left, face.top + 1}});
      Lines(dc, hot ? kHotRight : kFocusRight, thick,
            {{face.right - 1, face.bottom - 1}, {face.right - 1, face.top}});
      Lines(dc, hot ? kHotTop : kFocusTop, thin, {{face.left - 1, face.top}, {face.right - 1, face.top}});
      Lines(dc, hot ? kHotBottom : kFocusBottom, thin,
            {{face.left, face.bottom}, {face.right - 1, face.bottom}});
    }

    if (!look.caption.empty()) {
      SelectedObject font(dc, look.font);
      const int old_mode = SetBkMode(dc, TRANSPARENT);
      const COLORREF old_text = SetTextColor(dc, RGB(0, 0, 0));
      RECT measure{0, 0, 0, 0};
      DrawTextW(dc, look.caption.data(), int(look.caption.size()), &measure,
                DT_SINGLELINE | DT_CALCRECT);
      const int text_w = measure.right - measure.left;
      const int text_h = measure.bottom - measure.top;
      const int shift = look.pressed ? 1 : 0;
      const int x = (item.left + item.right) / 2 - text_w / 2 + shift;
      const int y = (item.top + item.bottom) / 2 - text_h / 2 + shift;
      if (look.disabled) {
        std::wstring text(look.caption);
        DrawStateW(dc, nullptr, nullptr, LPARAM(text.c_str()), WPARAM(text.size()), x, y, text_w,
                   text_h, DST_PREFIXTEXT | DSS_DISABLED);
      } else {
        RECT box{x, y, x + text_w, y + text_h};
        DrawTextW(dc, look.caption.data(), int(look.caption.size()), &box,
                  DT_SINGLELINE | DT_NOCLIP);
      }
      SetTextColor(dc, old_text);
      SetBkMode(dc, old_mode);
    }
    SetViewportOrgEx(dc, 0, 0, nullptr);
    BitBlt(target, item.left, item.top, width, height, dc, 0, 0, SRCCOPY);
  }
}

// ---- Edit boxes ----

void PaintEditFrame(HDC dc, int width, int height) {
  Frame(dc, {1, 1, width - 1, height - 1}, kEditFrameBlue);
}

// ---- Menu items ----

MenuColors FlatMenuColors() {
  const COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);
  const COLORREF gray = GetSysColor(COLOR_GRAYTEXT);
  return MenuColors{
      .item = GetSysColor(COLOR_WINDOW),
      .column = Lighten(GetSysColor(COLOR_BTNFACE), 25),
      .selection_fill = Lighten(highlight, 85),
      .selection_frame = highlight,
      .check_fill = Lighten(highlight, 85),
      .check_frame = highlight,
      .text = GetSysColor(COLOR_MENUTEXT),
      .gray_text = Lighten(gray, 40),
      .gray_text_selected = gray,
  };
}

namespace {

constexpr int kIconCell = 16;
constexpr int kSpacing = 7;
constexpr int kTextGap = 8;
constexpr int kTabRightGap = 16;
// The outcome strip's cells: 6 pixels wide with a 1-pixel gap, 10 high.
constexpr int kMarkPitch = 7;
constexpr int kMarkHeight = 10;
constexpr COLORREF kMarkOk = RGB(0x2E, 0xA0, 0x43);
constexpr COLORREF kMarkFailed = RGB(0xD0, 0x31, 0x2D);

// Draws `text` into `box`, splitting it at its first tab: left part
// left-aligned, right part right-aligned against `box` moved 16 pixels in.
void DrawMenuText(HDC dc, std::wstring_view text, RECT box, UINT flags, int dpi) {
  const size_t tab = text.find(L'\t');
  const std::wstring_view left = text.substr(0, tab);
  if (tab == std::wstring_view::npos) {
    DrawTextW(dc, left.data(), int(left.size()), &box, flags | DT_LEFT);
    return;
  }
  const std::wstring_view right = text.substr(tab + 1);
  box.right -= ScaleByDpi(kTabRightGap, dpi);
  DrawTextW(dc, left.data(), int(left.size()), &box, flags | DT_LEFT);
  DrawTextW(dc, right.data(), int(right.size()), &box, flags | DT_RIGHT);
}

SIZE TextSize(HDC dc, std::wstring_view text) {
  RECT r{0, 0, 0, 0};
  if (!text.empty()) DrawTextW(dc, text.data(), int(text.size()), &r, DT_SINGLELINE | DT_CALCRECT);
  return {r.right - r.left, r.bottom - r.top};
}

}  // namespace

int MenuColumnWidth(int dpi) { return ScaleByDpi(kIconCell + kSpacing, dpi); }

SIZE MeasureMenuItem(HDC dc, const MenuItemLook& look, int menu_height) {
  auto s = [&look](int v) { return ScaleByDpi(v, look.dpi); };
  if (look.separator) return {0, std::max(menu_height / 2, s(kIconCell + kSpacing) / 2)};
  SelectedObject font(dc, look.font);
  const size_t tab = look.text.find(L'\t');
  int text_width = TextSize(dc, look.text.substr(0, tab)).cx;
  if (tab != std::wstring_view::npos) {
    // Room for the right-aligned part, a gap before it and the gap after it.
    text_width += s(3 * kTextGap) + TextSize(dc, look.text.substr(tab + 1)).cx + s(kTabRightGap);
  }
  if (!look.marks.empty()) text_width += s(kTextGap) + int(look.marks.size()) * s(kMarkPitch);
  return {text_width + s(kIconCell + kSpacing + kTextGap),
          std::max(menu_height, s(kIconCell - 1 + kSpacing))};
}

void PaintMenuItem(HDC target, const RECT& item, const MenuItemLook& look,
                   const MenuColors& colors) {
  auto s = [&look](int v) { return ScaleByDpi(v, look.dpi); };
  const int width = item.right - item.left;
  const int height = item.bottom - item.top;
  if (width <= 0 || height <= 0) return;
  const bool selected = look.selected && !look.disabled && !look.separator;

  // Drawn off screen with the menu font, then copied in one transfer.
  UniqueMemoryDc memory(CreateCompatibleDC(target));
  if (!memory) return;
  const HDC dc = memory.get();
  UniqueBitmap bitmap(CreateCompatibleBitmap(target, width, height));
  {
    SelectedObject bitmap_selected(dc, bitmap.get());
    SelectedObject font(dc, look.font != nullptr ? look.font : GetCurrentObject(target, OBJ_FONT));
    const RECT r{0, 0, width, height};
    const RECT column{0, 0, MenuColumnWidth(look.dpi), height};

    if (selected) {
      Fill(dc, r, colors.selection_fill);
      Frame(dc, r, colors.selection_frame);
    } else {
      Fill(dc, r, colors.item);
      Fill(dc, column, colors.column);
    }

    if (look.separator) {
      RECT line{column.right + s(kSpacing), height / 2, width, height / 2 + 2};
      DrawEdge(dc, &line, EDGE_ETCHED, BF_TOP);
    } else {
      if (look.checked) {
        const int box_size = s(kIconCell);
        const int left = (column.right - box_size) / 2;
        const int top = (height - box_size) / 2;
        const RECT box{left, top, left + box_size, top + box_size};
        Fill(dc, box, colors.check_fill);
        Frame(dc, box, colors.check_frame);
        // The tick: seven vertical strokes, three pixels long.
        static constexpr int kTickTops[] = {2, 3, 4, 3, 2, 1, 0};
        const int unit = PixelUnit(look.dpi);
        const int x0 = left + s(5);
        const int y0 = top + s(4);
        for (int c = 0; c < 7; ++c) {
          Fill(dc,
               {x0 + c * unit, y0 + kTickTops[c] * unit, x0 + (c + 1) * unit,
                y0 + (kTickTops[c] + 3) * unit},
               colors.text);
        }
      }
      const COLORREF text = !look.disabled ? colors.text
                            : selected     ? colors.gray_text_selected
                                           : colors.gray_text;
      const int old_mode = SetBkMode(dc, TRANSPARENT);
      const COLORREF old_text = SetTextColor(dc, text);
      const RECT box{column.right + s(kTextGap), -1, width, height - 1};
      DrawMenuText(dc, look.text, box,
                   DT_SINGLELINE | DT_VCENTER | (look.hide_prefix ? DT_HIDEPREFIX : 0), look.dpi);
      if (!look.marks.empty()) {
        // The cells stand right after the text, one pitch apart, each a
        // little narrower than its pitch.
        int x = box.left + TextSize(dc, look.text).cx + s(kTextGap);
        const int top = (height - s(kMarkHeight)) / 2;
        for (char mark : look.marks) {
          Fill(dc, {x, top, x + s(kMarkPitch - 1), top + s(kMarkHeight)},
               mark == '+' ? kMarkOk : kMarkFailed);
          x += s(kMarkPitch);
        }
      }
      SetTextColor(dc, old_text);
      SetBkMode(dc, old_mode);
    }
    BitBlt(target, item.left, item.top, width, height, dc, 0, 0, SRCCOPY);
  }
}

}  // namespace win
