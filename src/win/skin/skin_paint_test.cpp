// Pixel facts of the skin's drawing: each element is drawn into a memory bitmap
// of known size and the colours at fixed coordinates are checked, one table per
// element, each row naming the fact it checks.
#include "win/skin/skin_paint.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "win/platform/unique_handle.h"

namespace win {
namespace {

// Tahoma 8 pt (shipped with Wine's fonts), whatever the locale.
class TestFont {
 public:
  TestFont()
      : font_(CreateFontW(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                          OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY,
                          DEFAULT_PITCH, L"Tahoma")) {}
  ~TestFont() { DeleteObject(font_); }
  TestFont(const TestFont&) = delete;
  TestFont& operator=(const TestFont&) = delete;
  HFONT get() const { return font_; }

 private:
  HFONT font_;
};

constexpr COLORREF kSentinel = RGB(1, 2, 3);

// A memory DC with a 32-bit bitmap, first filled with kSentinel.
class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height) {
    const WindowDc screen(nullptr);
    dc_.reset(CreateCompatibleDC(screen.get()));
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    bitmap_.reset(CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    selected_.emplace(dc_.get(), bitmap_.get());
    RECT all{0, 0, width, height};
    UniqueBrush brush(CreateSolidBrush(kSentinel));
    FillRect(dc_.get(), &all, brush.get());
  }
  HDC dc() const { return dc_.get(); }
  COLORREF At(int x, int y) const { return GetPixel(dc_.get(), x, y); }
  // Bounding box of the pixels of `color` inside `area`; empty when none.
  RECT BoxOf(COLORREF color, const RECT& area) const {
    RECT box{INT_MAX, INT_MAX, INT_MIN, INT_MIN};
    for (int y = area.top; y < area.bottom; ++y) {
      for (int x = area.left; x < area.right; ++x) {
        if (At(x, y) != color) continue;
        box = {std::min<LONG>(box.left, x), std::min<LONG>(box.top, y),
               std::max<LONG>(box.right, x + 1), std::max<LONG>(box.bottom, y + 1)};
      }
    }
    return box.left == INT_MAX ? RECT{0, 0, 0, 0} : box;
  }
  int Count(COLORREF color, const RECT& area) const {
    int n = 0;
    for (int y = area.top; y < area.bottom; ++y)
      for (int x = area.left; x < area.right; ++x) n += At(x, y) == color;
    return n;
  }
  // Pixels with more than half red: on the blue band, only the white title's
  // (smoothed) strokes have any red.
  int CountReddish(const RECT& area) const {
    int n = 0;
    for (int y = area.top; y < area.bottom; ++y)
      for (int x = area.left; x < area.right; ++x) n += GetRValue(At(x, y)) > 128;
    return n;
  }

 private:
  int width_;
  int height_;
  UniqueMemoryDc dc_;
  UniqueBitmap bitmap_;
  std::optional<SelectedObject> selected_;  // goes first: the bitmap is freed unselected
};

std::string Rgb(COLORREF c) {
  return std::to_string(GetRValue(c)) + "," + std::to_string(GetGValue(c)) + "," +
         std::to_string(GetBValue(c));
}

struct PixelFact {
  const char* what;
  int x;
  int y;
  COLORREF color;
};

void ExpectFacts(const Canvas& canvas, const std::vector<PixelFact>& facts) {
  for (const PixelFact& f : facts) {
    EXPECT_EQ(Rgb(canvas.At(f.x, f.y)), Rgb(f.color)) << f.what << " at (" << f.x << ", " << f.y << ")";
  }
}

TEST(SkinPaintTest, LightenMovesEachChannelTowardsWhiteTruncated) {
  struct Case {
    COLORREF in;
    int percent;
    COLORREF out;
  } cases[] = {
      {RGB(0, 120, 215), 85, RGB(216, 234, 249)},
      {RGB(0, 120, 215), 70, RGB(178, 214, 243)},
      {RGB(240, 240, 240), 25, RGB(243, 243, 243)},
      {RGB(109, 109, 109), 40, RGB(167, 167, 167)},
      {RGB(255, 255, 255), 85, RGB(255, 255, 255)},
      {RGB(10, 20, 30), 0, RGB(10, 20, 30)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Rgb(Lighten(c.in, c.percent)), Rgb(c.out)) << Rgb(c.in) << " by " << c.percent;
  }
}

// Window 300 x 200, client area from y = 24: the layout every skinned dialog has
// at 96 dpi.
TEST(SkinPaintTest, DialogFramePixelFacts) {
  const int w = 300, h = 200, t = 24;
  Canvas canvas(w, h);
  FrameLook look;
  look.title = L"Relaymoth";
  look.has_minimize = true;
  look.has_maximize = true;
  PaintDialogFrame(canvas.dc(), w, h, t, look);
  ExpectFacts(canvas, {
      {"outer ring", 0, 100, kCaptionBlue},
      {"second ring", 1, 100, kCaptionBlue},
      {"third ring is light blue on the left", 2, 100, kLightBlue},
      {"inner white ring", 3, 100, kSkinWhite},
      {"third ring is light blue at the bottom", 150, h - 3, kLightBlue},
      {"third ring is light blue on the right", w - 3, 100, kLightBlue},
      {"outer ring at the bottom", 150, h - 1, kCaptionBlue},
      {"inner ring on the right", w - 4, 100, kSkinWhite},
      {"rounded inner corner, top right", w - 4, 3, kCaptionBlue},
      {"rounded inner corner, bottom right", w - 4, h - 4, kCaptionBlue},
      {"line under the caption", 150, t - 1, kSkinWhite},
      {"band between stripes", 150, 5, kCaptionBlue},
      {"band left of the first stripe", 2, 4, kCaptionBlue},
      {"stripe begins at x = 3", 3, 4, kLightBlue},
      {"stripe 1 ends at w - 59", w - 60, 1, kLightBlue},
      {"after stripe 1", w - 59, 1, kCaptionBlue},
      {"stripe 2 ends at w - 61", w - 62, 4, kLightBlue},
      {"stripe 3 ends at w - 64", w - 65, 7, kLightBlue},
      {"after stripe 3", w - 64, 7, kCaptionBlue},
      {"stripe 4 ends at w - 65", w - 66, 10, kLightBlue},
      {"after stripe 4", w - 65, 10, kCaptionBlue},
      {"stripe 7 ends at w - 70", w - 71, 19, kLightBlue},
      {"after stripe 7: the blue joint ellipse", w - 70, 19, kCaptionBlue},
      {"band's rounded bottom corner", w - 65, t - 2, kSkinWhite},
      {"joint ellipse under the band", w - 71, t - 2, kCaptionBlue},
      {"white block's rounded top corner", w - 64, 3, kCaptionBlue},
      {"white block", w - 57, 10, kSkinWhite},
      {"close glyph, centre of the X", w - 14, 13, kGlyphBlue},
      {"minimise bar", w - 50, 17, kGlyphBlue},
      {"minimise bar's shadow", w - 50, 19, kShadowGrey},
      {"maximise bar", w - 32, 9, kGlyphBlue},
      {"maximise bar's shadow", w - 32, 11, kShadowGrey},
      {"maximise box, right side", w - 26, 14, kGlyphBlue},
      {"maximise box, right side's shadow", w - 25, 14, kOutlineGrey},
      {"maximise box, bottom", w - 32, 19, kGlyphBlue},
      {"maximise box, bottom's shadow", w - 32, 20, kOutlineGrey},
      {"maximise box, left side", w - 37, 14, kGlyphBlue},
  });
  // The close glyph has a grey shadow somewhere below and right of its strokes.
  EXPECT_GT(canvas.Count(kShadowGrey, {w - 21, 6, w - 3, 22}), 0);
  EXPECT_GT(canvas.CountReddish({30, 3, w - 81, t - 3}), 10) << "title text";
}

TEST(SkinPaintTest, FrameWithoutBoxesShowsOnlyTheCloseGlyphAndClipsTheTitle) {
  const int w = 300, h = 120, t = 24;
  Canvas canvas(w, h);
  FrameLook look;
  look.title = L"WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW";
  PaintDialogFrame(canvas.dc(), w, h, t, look);
  ExpectFacts(canvas, {
      {"close glyph", w - 14, 13, kGlyphBlue},
      {"no minimise bar", w - 50, 17, kSkinWhite},
      {"no maximise box", w - 26, 14, kSkinWhite},
  });
  EXPECT_GT(canvas.CountReddish({w - 120, 3, w - 81, t - 3}), 10) << "title reaches its box's end";
  EXPECT_EQ(canvas.CountReddish({w - 81, 5, w - 66, t - 5}), 0)
      << "a long title ends where its box ends";
}

TEST(SkinPaintTest, FrameAt150PercentKeepsTheRingsAndScalesTheBand) {
  const int w = 400, h = 200, dpi = 144;
  const int t = SkinnedClientTop(dpi);
  ASSERT_EQ(t, 34);
  Canvas canvas(w, h);
  FrameLook look;
  look.dpi = dpi;
  PaintDialogFrame(canvas.dc(), w, h, t, look);
  const RECT close = CaptionButtonBox(CaptionButton::kClose, w, dpi);
  ExpectFacts(canvas, {
      {"outer ring", 0, 100, kCaptionBlue},
      {"inner white ring", 3, 100, kSkinWhite},
      {"band reaches the taller caption", 150, t - 2, kCaptionBlue},
      {"line under the caption", 150, t - 1, kSkinWhite},
      {"close glyph centre", (close.left + close.right) / 2, (close.top + close.bottom) / 2,
       kGlyphBlue},
  });
}

// The stripes of the band end inside the blue of the rounded joint: above it the
// white block's rounded corner (a circle s(14) across at the block's top left),
// below it the blue joint ellipse (s(14) x s(13) at the band's bottom, left of
// the block). A stripe pixel more than a pixel onto the white runs past the
// joint. Nothing in the band is left unpainted.
TEST(SkinPaintTest, CaptionStripesStopAtTheJointAtEveryDpi) {
  for (int dpi : {96, 120, 144, 192}) {
    SCOPED_TRACE("dpi " + std::to_string(dpi));
    auto s = [dpi](int v) { return ScaleByDpi(v, dpi); };
    const int w = 400, h = 200, t = SkinnedClientTop(dpi), block = w - s(64);
    Canvas canvas(w, h);
    FrameLook look;
    look.dpi = dpi;
    PaintDialogFrame(canvas.dc(), w, h, t, look);
    EXPECT_EQ(canvas.Count(kSentinel, {0, 0, w, t}), 0) << "unpainted pixels in the band";

    const double corner_r = s(14) / 2.0, corner_x = block + corner_r, corner_y = 3 + corner_r;
    const double joint_rx = s(14) / 2.0, joint_ry = s(13) / 2.0;
    const double joint_x = block - joint_rx, joint_y = t - joint_ry;
    for (int y = 1; y < t - 4; y += 3) {
      const RECT stripe = canvas.BoxOf(kLightBlue, {block - s(20), y, w - 4, y + 1});
      ASSERT_LT(stripe.left, stripe.right) << "row " << y << " has a stripe near the joint";
      EXPECT_GE(stripe.right, block - s(8)) << "row " << y << " stripe reaches the joint";
      const double px = stripe.right - 0.5, py = y + 0.5;
      if (px >= block && py >= 3) {
        const double into_white = corner_r - std::hypot(px - corner_x, py - corner_y);
        EXPECT_LT(into_white, 1.0) << "row " << y << " runs onto the white block's corner";
      }
      if (px < block && py >= t - s(8)) {
        const double out = std::hypot((px - joint_x) / joint_rx, (py - joint_y) / joint_ry) - 1;
        EXPECT_LT(out * std::min(joint_rx, joint_ry), 1.0)
            << "row " << y << " runs past the joint ellipse";
      }
      EXPECT_LE(stripe.right, block + s(7)) << "row " << y;
    }
  }
}

// Button item (10, 8, 90, 32) in a 100 x 40 bitmap; face (12, 10, 88, 30), so the
// gradient runs over rows 10 (entry 0) to 30 (entry 63).
struct ButtonCase {
  const char* name;
  ButtonLook look;
  std::vector<PixelFact> facts;
};

TEST(SkinPaintTest, ButtonPixelFacts) {
  const RECT item{10, 8, 90, 32};
  const COLORREF white = RGB(255, 255, 255);
  auto look = [](bool hover, bool focus, bool pressed, bool is_default) {
    ButtonLook l;
    l.hover = hover;
    l.focus = focus;
    l.pressed = pressed;
    l.is_default = is_default;
    l.background = kSentinel;
    return l;
  };
  const ButtonCase cases[] = {
      {"plain", look(false, false, false, false),
       {{"row 0 is entry 0", 50, 10, white},
        {"row h is entry 63", 50, 30, RGB(234, 234, 243)},
        {"row 10 is entry 31", 50, 20, RGB(245, 245, 249)},
        {"no border on the left", 12, 20, RGB(245, 245, 249)},
        {"outline, top", 50, 8, RGB(0, 0, 0)},
        {"outline, left", 10, 20, RGB(0, 0, 0)},
        {"outline, right", 89, 20, RGB(0, 0, 0)},
        {"rounded corner shows the background", 10, 8, kSentinel},
        {"white between outline and face", 50, 9, white},
        {"outside the item untouched", 5, 20, kSentinel}}},
      {"default: emphasis gradient, no border", look(false, false, false, true),
       {{"row h", 50, 30, RGB(234, 234, 240)},
        {"row 10", 12, 20, RGB(245, 245, 248)}}},
      {"hovered", look(true, false, false, false),
       {{"row 10 hover gradient", 50, 20, RGB(248, 248, 249)},
        {"hot left", 12, 20, kHotLeft},
        {"hot right", 87, 20, kHotRight},
        {"hot top", 50, 10, kHotTop},
        {"hot bottom", 50, 30, kHotBottom}}},
      {"focused", look(false, true, false, false),
       {{"row 10 emphasis gradient", 50, 20, RGB(245, 245, 248)},
        {"focus left", 12, 20, kFocusLeft},
        {"focus right", 87, 20, kFocusRight},
        {"focus top", 50, 10, kFocusTop},
        {"focus bottom", 50, 30, kFocusBottom}}},
      {"hovered and focused: hot wins", look(true, true, false, false),
       {{"row 10 hover emphasis gradient", 50, 20, RGB(248, 248, 245)},
        {"hot left", 12, 20, kHotLeft},
        {"hot bottom", 50, 30, kHotBottom}}},
  };
  for (const ButtonCase& c : cases) {
    SCOPED_TRACE(c.name);
    Canvas canvas(100, 40);
    PaintButton(canvas.dc(), item, c.look);
    ExpectFacts(canvas, c.facts);
  }
}

TEST(SkinPaintTest, ButtonCaptionIsCentredShiftedWhenPressedAndClippedWhenLong) {
  const RECT item{10, 8, 110, 38};
  const RECT inside{14, 12, 106, 34};
  // A named font: the stock GUI font follows the locale (a CJK face in code
  // page 936), whose Latin glyphs sit off their advance.
  TestFont font;
  const COLORREF black = RGB(0, 0, 0);
  ButtonLook look;
  look.caption = L"OK";
  look.font = font.get();
  Canvas up(120, 46);
  PaintButton(up.dc(), item, look);
  const RECT text = up.BoxOf(black, inside);
  ASSERT_LT(text.left, text.right) << "caption drawn";
  EXPECT_LE(std::abs((text.left + text.right) - (item.left + item.right)), 3) << "centred across";
  EXPECT_LE(std::abs((text.top + text.bottom) - (item.top + item.bottom)), 5) << "centred down";

  look.pressed = true;
  Canvas down(120, 46);
  PaintButton(down.dc(), item, look);
  const RECT pressed = down.BoxOf(black, inside);
  EXPECT_EQ(pressed.left, text.left + 1);
  EXPECT_EQ(pressed.top, text.top + 1);

  look.pressed = false;
  look.disabled = true;
  Canvas disabled(120, 46);
  PaintButton(disabled.dc(), item, look);
  EXPECT_EQ(disabled.Count(black, inside), 0) << "disabled captions are not black";
  EXPECT_GT(disabled.Count(GetSysColor(COLOR_3DSHADOW), inside), 0) << "embossed";
  EXPECT_EQ(Rgb(disabled.At(20, 30)), Rgb(ButtonGradientColor(63 * 20 / 26, false, false)))
      << "the gradient stays";

  look.disabled = false;
  look.caption = L"WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW";
  Canvas wide(120, 46);
  PaintButton(wide.dc(), item, look);
  const RECT long_text = wide.BoxOf(black, inside);
  EXPECT_EQ(long_text.left, inside.left) << "clipped on the left";
  EXPECT_EQ(long_text.right, inside.right) << "clipped on the right";
  EXPECT_EQ(Rgb(wide.At(5, 20)), Rgb(kSentinel)) << "nothing drawn left of the button";
  EXPECT_EQ(Rgb(wide.At(115, 20)), Rgb(kSentinel)) << "nothing drawn right of the button";
}

TEST(SkinPaintTest, EditFrameIsOnePixelInside) {
  Canvas canvas(60, 20);
  PaintEditFrame(canvas.dc(), 60, 20);
  ExpectFacts(canvas, {
      {"outermost line untouched", 0, 10, kSentinel},
      {"left", 1, 10, kEditFrameBlue},
      {"top", 30, 1, kEditFrameBlue},
      {"right", 58, 10, kEditFrameBlue},
      {"bottom", 30, 18, kEditFrameBlue},
      {"inside untouched", 30, 10, kSentinel},
  });
}

TEST(SkinPaintTest, MenuItemSizes) {
  HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  Canvas canvas(10, 10);
  SIZE text{};
  {
    SelectedObject selected(canvas.dc(), font);
    GetTextExtentPoint32W(canvas.dc(), L"Verify all", 10, &text);
  }
  struct Case {
    bool separator;
    int menu_height;
    SIZE size;
  } cases[] = {
      {true, 19, {0, 11}},   // half of (16 + 7) wins over half a menu line
      {true, 30, {0, 15}},   // half a menu line
      {false, 19, {text.cx + 31, 22}},
      {false, 30, {text.cx + 31, 30}},
  };
  for (const Case& c : cases) {
    MenuItemLook look;
    look.text = L"Verify all";
    look.separator = c.separator;
    look.font = font;
    const SIZE size = MeasureMenuItem(canvas.dc(), look, c.menu_height);
    EXPECT_EQ(size.cx, c.size.cx) << "separator " << c.separator << " menu height " << c.menu_height;
    EXPECT_EQ(size.cy, c.size.cy) << "separator " << c.separator << " menu height " << c.menu_height;
  }
}

// Items 150 x 22: column 23 wide, check box (3, 3, 19, 19), tick from (8, 7).
TEST(SkinPaintTest, MenuItemPixelFacts) {
  const MenuColors colors{.item = RGB(250, 250, 250),
                          .column = RGB(200, 200, 200),
                          .selection_fill = RGB(220, 230, 250),
                          .selection_frame = RGB(0, 80, 200),
                          .check_fill = RGB(210, 220, 240),
                          .check_frame = RGB(0, 60, 180),
                          .text = RGB(0, 0, 0),
                          .gray_text = RGB(170, 170, 170),
                          .gray_text_selected = RGB(110, 110, 110)};
  auto look = [](bool checked, bool selected, bool disabled, bool separator) {
    MenuItemLook l;
    l.text = separator ? L"" : L"Item";
    l.checked = checked;
    l.selected = selected;
    l.disabled = disabled;
    l.separator = separator;
    l.font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    return l;
  };
  struct Case {
    const char* name;
    MenuItemLook look;
    int height;
    std::vector<PixelFact> facts;
  } cases[] = {
      {"plain", look(false, false, false, false), 22,
       {{"column", 2, 11, colors.column},
        {"column's last pixel", 22, 11, colors.column},
        {"item area", 23, 11, colors.item},
        {"item area, right", 148, 11, colors.item}}},
      {"checked", look(true, false, false, false), 22,
       {{"check box frame", 3, 10, colors.check_frame},
        {"check box frame, right", 18, 10, colors.check_frame},
        {"check box fill", 5, 5, colors.check_fill},
        {"tick column 0 top", 8, 9, colors.text},
        {"tick column 0 bottom", 8, 11, colors.text},
        {"above tick column 0", 8, 8, colors.check_fill},
        {"below tick column 0", 8, 12, colors.check_fill},
        {"tick column 2 bottom", 10, 13, colors.text},
        {"below tick column 2", 10, 14, colors.check_fill},
        {"tick column 6 top", 14, 7, colors.text},
        {"above tick column 6", 14, 6, colors.check_fill},
        {"right of the tick", 15, 8, colors.check_fill}}},
      {"selected", look(false, true, false, false), 22,
       {{"frame left", 0, 11, colors.selection_frame},
        {"frame top", 75, 0, colors.selection_frame},
        {"frame bottom", 75, 21, colors.selection_frame},
        {"frame right", 149, 11, colors.selection_frame},
        {"fill over the column", 2, 11, colors.selection_fill},
        {"fill", 140, 11, colors.selection_fill}}},
      {"disabled is never selected", look(false, true, true, false), 22,
       {{"column", 2, 11, colors.column}, {"item area", 140, 11, colors.item}}},
      {"separator", look(false, false, false, true), 11,
       {{"column", 2, 5, colors.column},
        {"before the line", 29, 5, colors.item},
        {"etched line, dark", 31, 5, GetSysColor(COLOR_3DSHADOW)},
        {"etched line, light", 31, 6, GetSysColor(COLOR_3DHILIGHT)},
        {"etched line reaches the right", 149, 5, GetSysColor(COLOR_3DSHADOW)}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Canvas canvas(150, c.height);
    PaintMenuItem(canvas.dc(), {0, 0, 150, c.height}, c.look, colors);
    ExpectFacts(canvas, c.facts);
  }
}

TEST(SkinPaintTest, MenuTextColoursAndTabSplit) {
  const MenuColors colors = FlatMenuColors();
  MenuItemLook look;
  TestFont font;  // not the locale's stock font (see above)
  look.font = font.get();
  const RECT text_area{31, 0, 150, 22};

  look.text = L"Item";
  look.disabled = true;
  Canvas disabled(150, 22);
  PaintMenuItem(disabled.dc(), {0, 0, 150, 22}, look, colors);
  EXPECT_GT(disabled.Count(colors.gray_text, text_area), 0) << "lightened grey text";
  EXPECT_EQ(disabled.Count(colors.text, text_area), 0);

  look.disabled = false;
  look.text = L"Left\tRight";
  Canvas tabbed(150, 22);
  PaintMenuItem(tabbed.dc(), {0, 0, 150, 22}, look, colors);
  const RECT left = tabbed.BoxOf(colors.text, {31, 0, 75, 22});
  const RECT right = tabbed.BoxOf(colors.text, {75, 0, 150, 22});
  EXPECT_GE(left.left, 31) << "left part starts after the column and its gap";
  EXPECT_LE(left.left, 33);
  EXPECT_GT(right.right, 150 - 16 - 6) << "right part ends 16 pixels before the edge";
  EXPECT_LE(right.right, 150 - 16);
}

}  // namespace
}  // namespace win
