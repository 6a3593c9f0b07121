#include "win/app/floating_window.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>

#include "core/proxylist/drop_intake.h"
#include "core/proxylist/favorite_menu.h"
#include "core/proxylist/list_file.h"
#include "core/proxylist/list_profile.h"
#include "win/app/proxy_menu.h"
#include "win/platform/resources.h"
#include "win/platform/wide_text.h"
#include "win/skin/gloss_menu.h"
#include "win/skin/skin_dpi.h"
#include "win/ui/browser_watch_window.h"
#include "win/ui/work_area.h"
#include "win/res/resource.h"

namespace win {
namespace {

constexpr int kCornerEllipse = 10;
constexpr UINT kFadeMs = 150;
constexpr UINT kTrayBlinkMs = 600;
// "建立OleDropTarget失败"
constexpr std::string_view kDropTargetFailed = "建立OleDropTarget失败";

HICON LoadResourceIcon(HINSTANCE instance, int id, int size) {
  return static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_SHARED));
}

}  // namespace

FloatingWindow::FloatingWindow(AppServices& services, FloatingWindowEnv env)
    : services_(services),
      platform_(services.platform()),
      switcher_(services.switcher()),
      env_(std::move(env)),
      dialog_(services) {
  switcher_.events().Add(this);
}

FloatingWindow::~FloatingWindow() {
  drop_target_.Revoke();
  tray_.Delete();
  switcher_.events().Remove(this);
}

bool FloatingWindow::Create() {
  WindowClassInfo window_class;
  window_class.name = kClassName;
  window_class.style = CS_DBLCLKS;
  // White: the rounded rectangle painted over it is drawn with the default brush.
  window_class.background = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  WindowPlacement placement;
  placement.ex_style = WS_EX_TOOLWINDOW | WS_EX_ACCEPTFILES | WS_EX_TOPMOST;
  placement.style = WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS;
  placement.x = 730;
  placement.y = 38;
  placement.width = 32;
  placement.height = 32;
  placement.parent = GetDesktopWindow();
  std::wstring title = LoadResourceString(platform_.instance, IDS_APP_TITLE);
  if (!WindowBase::Create(platform_.instance, window_class, title.c_str(), placement)) return false;
  SetTimer(hwnd(), kTimerFade, kFadeMs, nullptr);
  SetTimer(hwnd(), kTimerTrayBlink, kTrayBlinkMs, nullptr);
  SetTimer(hwnd(), kTimerBrowserWatch, kBrowserWatchPeriodMs, nullptr);
  ShowMainDialog();
  // The dialog shown at start must not hide the floating window.
  if (dialog_.hwnd() != nullptr) MoveBeside(dialog_.hwnd(), hwnd());
  return true;
}

LRESULT FloatingWindow::HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case WM_CREATE:
      return OnCreate() ? 0 : -1;
    case WM_PAINT:
      OnPaint();
      return 0;
    case WM_LBUTTONDOWN: {
      // Dragging the body moves the window, as a caption would. The move starts
      // from the point the message carries, which must be in screen
      // coordinates: client coordinates would make the window jump at once.
      POINT at{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
      ClientToScreen(hwnd(), &at);
      PostMessageW(hwnd(), WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(at.x, at.y));
      break;
    }
    case WM_LBUTTONDBLCLK:
      ShowMainDialog();
      break;
    case WM_CONTEXTMENU: {
      POINT at{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
      if (at.x == -1 && at.y == -1) {  // from the keyboard: below the window
        RECT r{};
        GetWindowRect(hwnd(), &r);
        at = {r.left, r.bottom};
      }
      ShowPopupMenu(at, false);
      return 0;
    }
    case WM_TRAY_NOTIFY:
      OnTrayNotify(UINT(lparam));
      return 0;
    case WM_TIMER:
      OnTimer(wparam);
      break;
    case WM_COMMAND:
      OnCommand(LOWORD(wparam));
      return 0;
    case WM_PROXY_DROPPED:
      OnProxyDropped(wparam);
      return 0;
    case WM_CLOSE:
      FinalSave();
      break;
    case WM_NCPAINT:
      // Something showed the window while the browser watch keeps it hidden.
      if (services_.run_settings().settings().only_with_browser) {
        HideIfShownAgainstWatch(hwnd(), hidden_by_watch_);
      }
      break;
    case WM_QUERYENDSESSION:
      // Another program may still veto the end of the session: save now, but
      // keep the tray icon and save again later.
      SaveListAndPosition();
      return TRUE;
    case WM_ENDSESSION:
      if (wparam) FinalSave();
      return 0;
    case WM_DESTROY:
      OnDestroy();
      return 0;
    default:
      if (taskbar_created_ != 0 && msg == taskbar_created_) {
        tray_.Readd();
        return 0;
      }
  }
  return DefaultHandle(msg, wparam, lparam);
}

bool FloatingWindow::OnCreate() {
  HRGN region =
      CreateRoundRectRgn(0, 0, Px(kFloatingSize), Px(kFloatingSize), Px(kCornerEllipse),
                         Px(kCornerEllipse));
  // The window owns the region once it is set; on failure it is still ours.
  if (region != nullptr && !SetWindowRgn(hwnd(), region, TRUE)) DeleteObject(region);
  SetCursor(LoadCursorW(nullptr, IDC_ARROW));
  SetStateIcon(false);
  dialog_.Create(hwnd());

  drop_target_.SetTargetWindow(hwnd());
  if (!drop_target_.Register()) {
    platform_.prompt->Ask(hwnd(), kDropTargetFailed, "", MB_OK);
  }

  RefreshStateIcon();
  RestorePosition();

  // The flat popup menu's items are measured and drawn for this window.
  AttachGlossMenuHandler(hwnd());
  // The tooltip shows the proxy in use and the address the world sees.
  tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd(),
                             nullptr, platform_.instance, nullptr);
  if (tooltip_ != nullptr) {
    // The dialogs' face at their size. Wine draws its small default tooltip
    // face (Tahoma) a few pixels wider than it measures it, and the tooltip,
    // sized by the measure, cut the tip's last characters off; this face draws
    // as wide as it measures and has the Chinese glyphs of its own.
    tooltip_font_.reset(CreateFontW(-Px(12), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                    DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                    DEFAULT_QUALITY, DEFAULT_PITCH, L"宋体"));
    if (tooltip_font_) SendMessageW(tooltip_, WM_SETFONT, WPARAM(tooltip_font_.get()), FALSE);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = hwnd();
    tool.uId = reinterpret_cast<UINT_PTR>(hwnd());
    std::wstring text = TrayTip();
    tool.lpszText = text.data();
    SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }
  taskbar_created_ = RegisterWindowMessageW(L"TaskbarCreated");
  ShowTrayIcon(services_.run_settings().settings().tray_icon);
  return true;
}

void FloatingWindow::ShowTrayIcon(bool on) {
  if (on && env_.tray_icon && !final_saved_) {
    if (!tray_.added()) {
      tray_.Add(hwnd(),
                LoadResourceIcon(platform_.instance, IDI_MAIN, GetSystemMetrics(SM_CXSMICON)),
                LoadResourceString(platform_.instance, IDS_APP_TITLE));
    }
  } else {
    tray_.Delete();
  }
}

void FloatingWindow::OnRunSettingsChanged() {
  if (hwnd() == nullptr) return;
  ShowTrayIcon(services_.run_settings().settings().tray_icon);
}

void FloatingWindow::OnBrowserWatchTick() {
  const HWND own[] = {hwnd(), dialog_.hwnd(), dialog_.settings_dialog().hwnd()};
  RunBrowserWatchTick(hwnd(), services_.run_settings().settings().only_with_browser, own, &hidden_by_watch_);
}

void FloatingWindow::OnDestroy() {
  KillTimer(hwnd(), kTimerFade);
  KillTimer(hwnd(), kTimerTrayBlink);
  KillTimer(hwnd(), kTimerBrowserWatch);
  // Workers still testing are let go without waiting; none reports again.
  services_.verify().ReleaseWorkers();
  // Both must go while the window still exists.
  drop_target_.Revoke();
  tray_.Delete();
  if (env_.quit_on_destroy) PostQuitMessage(0);
}

int FloatingWindow::Px(int pixels_at_96_dpi) const {
  return hwnd() != nullptr ? ScaleForWindow(hwnd(), pixels_at_96_dpi) : pixels_at_96_dpi;
}

void FloatingWindow::OnPaint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd(), &ps);
  RECT r{};
  GetClientRect(hwnd(), &r);
  RoundRect(dc, r.left, r.top, r.right - 1, r.bottom - 1, kCornerEllipse, kCornerEllipse);
  if (state_icon_) {
    DrawIconEx(dc, 0, Px(1), state_icon_.get(), Px(32), Px(32), 0, nullptr, DI_NORMAL);
  }
  if (CheckFailed()) {
    // The proxy in use does not work (or does not hide the address): red, over
    // the "no proxy" icon, never beside the green one.
    UniqueBrush red(CreateSolidBrush(RGB(220, 30, 30)));
    SelectedObject brush(dc, red.get());
    SelectedObject pen(dc, GetStockObject(NULL_PEN));
    Ellipse(dc, Px(9), Px(10), Px(24), Px(25));
  }
  EndPaint(hwnd(), &ps);
}

bool FloatingWindow::CheckFailed() const {
  return services_.exit_check().settings().enabled && services_.exit_check().check().failed();
}

void FloatingWindow::RefreshStateIcon() {
  SetStateIcon(!switcher_.current_proxy().empty() && !CheckFailed());
}

void FloatingWindow::SetStateIcon(bool on) {
  const int size = Px(32);
  if (!state_icon_ || on != proxy_icon_on_ || size != state_icon_size_) {
    // The icons carry images drawn at each size the window may ask for.
    state_icon_.reset(static_cast<HICON>(
        LoadImageW(platform_.instance, MAKEINTRESOURCEW(on ? IDI_PROXY_ON : IDI_PROXY_OFF),
                   IMAGE_ICON, size, size, 0)));
    state_icon_size_ = size;
  }
  proxy_icon_on_ = on;
  if (hwnd() != nullptr) InvalidateRect(hwnd(), nullptr, TRUE);
}

void FloatingWindow::OnProxyChanged() { RefreshStateIcon(); }

std::wstring FloatingWindow::TrayTip() const {
  std::string name = switcher_.InUseName();
  std::wstring tip;
  if (!services_.exit_check().settings().enabled) {
    tip = LoadResourceString(platform_.instance, IDS_TRAY_TIP);
    // The rotation and a row carried by another are worth a look even so.
    if (name != switcher_.current_proxy() || switcher_.in_use().rotation) {
      tip += L"\n" + Utf8ToWide(name);
    }
  } else {
    tip = Utf8ToWide(services_.exit_check().check().TipText(name));
  }
  const std::string& note = services_.auto_switch().place_note();
  if (!note.empty()) tip += L"\n" + Utf8ToWide(note);
  return tip;
}

std::wstring FloatingWindow::tooltip_text() const {
  if (tooltip_ == nullptr) return {};
  wchar_t text[256] = {};
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof(tool);
  tool.hwnd = hwnd();
  tool.uId = reinterpret_cast<UINT_PTR>(hwnd());
  tool.lpszText = text;
  SendMessageW(tooltip_, TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&tool));
  return text;
}

void FloatingWindow::OnExitCheckChanged() {
  if (hwnd() == nullptr) return;
  // With the check off the tips say only the program's name: an earlier
  // check's text would be stale.
  std::wstring text = TrayTip();
  if (tooltip_ != nullptr) {
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.hwnd = hwnd();
    tool.uId = reinterpret_cast<UINT_PTR>(hwnd());
    tool.lpszText = text.data();
    SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
  }
  if (tray_.added()) tray_.Modify(tray_.icon(), text);
  // One state at a time: red while the last check failed, else the icon.
  RefreshStateIcon();
}

void FloatingWindow::RestorePosition() {
  core::WindowPosition pos = core::LoadWindowPosition(*platform_.profile);
  RECT work{};
  if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)) {
    work = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  }
  // Raised to the left/top edge first, then lowered so the whole window shows.
  int size = Px(kFloatingSize);
  int left = std::min<int>(std::max<int>(pos.left, work.left), work.right - size);
  int top = std::min<int>(std::max<int>(pos.top, work.top), work.bottom - size);
  SetWindowPos(hwnd(), nullptr, left, top, size, size,
               SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(hwnd(), nullptr, TRUE);
}

void FloatingWindow::SaveListAndPosition() {
  RECT r{};
  if (hwnd() != nullptr && GetWindowRect(hwnd(), &r)) {
    // Only where the window comes up next time: a refused write costs nothing
    // the user gave, so it is not worth a message at the end.
    core::SaveWindowPosition({r.left, r.top}, *platform_.profile).Ignore();
  }
  // The program is ending: a refused write has no one left to tell, and the
  // saves as the list changed have kept the profile at most a second behind.
  services_.list_save().SaveNow().Ignore();
}

void FloatingWindow::FinalSave() {
  if (final_saved_) return;
  // A system proxy that points at the local relay goes back to what it was
  // before the relay took it: the relay ends with the program.
  services_.relay_guard().RestoreAtExit();
  SaveListAndPosition();
  tray_.Delete();
  final_saved_ = true;
}

void FloatingWindow::ShowMainDialog() { dialog_.Show(); }

UniqueMenu FloatingWindow::BuildMenu(std::vector<core::RowId>* rows) const {
  std::vector<core::RowId> ignored;
  return BuildProxyMenu(platform_.instance, switcher_.list(), switcher_.in_use(),
                        switcher_.place_filter(), rows ? rows : &ignored);
}

void FloatingWindow::UseFavorite(const std::vector<core::RowId>& rows, size_t n) {
  if (n < rows.size()) {
    switcher_.Use(rows[n]);
  } else {
    switcher_.UseNone();  // 1174 and beyond hold no entry
  }
}

void FloatingWindow::ShowPopupMenu(POINT at, bool from_tray) {
  std::vector<core::RowId> rows;
  UniqueMenu built = BuildMenu(&rows);
  if (!built) return;
  // The program's flat menu, favorites and check mark included.
  GlossMenu menu(std::move(built));
  // How the proxy in use fared lately: a strip of its last exit checks (or,
  // with the rotation, its last connections) at the foot of the menu.
  std::string marks = switcher_.UseMarks();
  if (!marks.empty()) {
    menu.AppendItem(menu.SubMenu(0), MF_SEPARATOR, 0, "");
    menu.AppendItem(menu.SubMenu(0), MF_GRAYED, 0,
                    core::UseStripText(marks, switcher_.in_use().rotation), marks);
  }
  if (from_tray) {
    // Without this the menu stays open when the user clicks elsewhere.
    SetForegroundWindow(hwnd());
  }
  // The command comes back here, so that a favorite switches to the row the
  // menu showed, wherever the list has moved it meanwhile.
  int id = int(TrackPopupMenu(menu.SubMenu(0), TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD,
                              at.x, at.y, 0, hwnd(), nullptr));
  if (from_tray) PostMessageW(hwnd(), WM_NULL, 0, 0);
  if (id >= IDM_FAVORITE_FIRST && id <= IDM_FAVORITE_LAST) {
    UseFavorite(rows, size_t(id - IDM_FAVORITE_FIRST));
  } else if (id != 0) {
    OnCommand(id);
  }
}

void FloatingWindow::OnTrayNotify(UINT mouse_message) {
  if (mouse_message == WM_LBUTTONDBLCLK) {
    ShowMainDialog();
  } else if (mouse_message == WM_RBUTTONDOWN) {
    POINT at{};
    GetCursorPos(&at);
    ShowPopupMenu(at, true);
  }
}

void FloatingWindow::OnCommand(int id) {
  if (id >= IDM_FAVORITE_FIRST && id <= IDM_FAVORITE_LAST) {
    // A command sent without the menu (another program's message) names the
    // favorites as they are now.
    std::vector<core::RowId> rows;
    for (const core::FavoriteMenuEntry& e :
         core::FavoriteMenuEntries(switcher_.list(), switcher_.in_use().row)) {
      rows.push_back(e.row);
    }
    UseFavorite(rows, size_t(id - IDM_FAVORITE_FIRST));
    return;
  }
  switch (id) {
    case IDM_SHOW_MAIN_DIALOG:
      ShowMainDialog();
      break;
    case IDM_NO_PROXY:
      switcher_.UseNone();
      break;
    case IDM_ROTATE:
      if (services_.auto_switch().state().on()) {
        switcher_.Ask(kRotationWhileAutoSwitch, "", MB_OK | MB_ICONWARNING);
      } else {
        switcher_.UseRotation();
      }
      break;
    case IDM_QUIT:
      // The process ends at once: workers are let go, not waited for. The
      // proxy settings go back to what the user had before the program's
      // first switch.
      services_.verify().ReleaseWorkers();
      switcher_.RestoreUserProxy();
      FinalSave();
      if (env_.end_process) env_.end_process(1);
      break;
    case IDM_VERIFY_ALL:
      // Unlike the main dialog's button: no checks with messages, and the
      // system proxy stays as it is.
      services_.verify().VerifyAllQuietly();
      break;
  }
}

void FloatingWindow::OnTimer(UINT_PTR id) {
  int workers = services_.verify().active_workers();
  if (id == kTimerBrowserWatch) {
    OnBrowserWatchTick();
  } else if (id == kTimerFade) {
    RECT r{};
    POINT cursor{};
    GetWindowRect(hwnd(), &r);
    GetCursorPos(&cursor);
    if (PtInRect(&r, cursor) || workers > 0) {
      StepWindowAlpha(255, 57);
    } else {
      StepWindowAlpha(80, 24);
    }
  } else if (id == kTimerTrayBlink) {
    // While verifications run the tray alternates between IDI_TRAY_BUSY and
    // IDI_MAIN and always ends on IDI_MAIN.
    if (tray_blink_) {
      tray_blink_ = false;
      tray_.Modify(LoadResourceIcon(platform_.instance, IDI_MAIN, GetSystemMetrics(SM_CXSMICON)),
                   TrayTip());
    } else if (tray_.added() && workers > 0) {
      tray_blink_ = true;
      tray_.Modify(LoadResourceIcon(platform_.instance, IDI_TRAY_BUSY, GetSystemMetrics(SM_CXSMICON)),
                   TrayTip());
    }
  }
}

void FloatingWindow::StepWindowAlpha(int target, int step) {
  LONG_PTR ex = GetWindowLongPtrW(hwnd(), GWL_EXSTYLE);
  if (!(ex & WS_EX_LAYERED)) SetWindowLongPtrW(hwnd(), GWL_EXSTYLE, ex | WS_EX_LAYERED);
  target = std::clamp(target, 0, 255);
  int current = alpha_;
  if (current == target) return;
  step = std::max(step, 1);
  current = current < target ? std::min(current + step, target) : std::max(current - step, target);
  SetLayeredWindowAttributes(hwnd(), 0, BYTE(current), LWA_ALPHA);
  alpha_ = BYTE(current);
}

void FloatingWindow::OnProxyDropped(WPARAM wparam) {
  // Only our own drop target's text is taken: any program can post this
  // message, and an address from elsewhere must not be read.
  if (wparam != reinterpret_cast<WPARAM>(&drop_target_.dropped_text())) return;
  std::string text = drop_target_.dropped_text();
  if (text.size() >= core::kStagedImportBytes) {
    // A long text is searched on a worker; its summary comes through the
    // program's message owner.
    Switcher& switcher = switcher_;
    services_.imports().AddDropped(std::move(text), [&switcher](const core::DropSummary& s) {
      switcher.Ask(s.message, s.caption, MB_OK);
    });
    return;
  }
  HCURSOR old = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  core::DropSummary summary = core::AddDroppedText(switcher_.list(), text);
  SetCursor(old);
  platform_.prompt->Ask(hwnd(), summary.message, summary.caption, MB_OK);
}

}  // namespace win
