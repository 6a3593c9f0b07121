// FloatingWindow: the program's main window, a 33 x 33 rounded, always-on-top
// tool window showing whether a proxy is in use; a view of the program's
// services. It owns the main dialog window, the tray icon, the drop target and
// the proxy menu, sends the menu's commands to the services, and saves the list
// and its position when the program ends. UI thread only.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

#include "win/app/app_services.h"
#include "win/app/proxy_drop_target.h"
#include "win/app/proxy_list_dialog.h"
#include "win/app/tray_icon.h"
#include "win/platform/dispatcher.h"
#include "win/platform/unique_handle.h"
#include "win/ui/window_base.h"

namespace win {

inline constexpr int kFloatingSize = 33;

// How the window behaves beyond the services; tests pass their own.
struct FloatingWindowEnv {
  // False: never a tray icon (tests); true: as the run settings say.
  bool tray_icon = true;
  // Ends the process at once ("退出程序"); tests record the code instead.
  std::function<void(int)> end_process;
  // The message loop ends when the window is destroyed (off in window tests).
  bool quit_on_destroy = true;
};

class FloatingWindow final : public WindowBase, private AppObserver {
 public:
  static constexpr const wchar_t* kClassName = L"RelaymothFloatingWindow";

  // `services` must outlive the window.
  FloatingWindow(AppServices& services, FloatingWindowEnv env);
  ~FloatingWindow() override;

  // Creates the window with its creation sequence, starts the timers and shows
  // the main dialog. False when the window could not be created.
  bool Create();

  void ShowMainDialog();
  // Puts a system proxy pointing at the local relay back (RelayProxyGuard),
  // saves the list and the position and removes the tray icon, once per window.
  void FinalSave();
  // The proxy menu (IDR_SYSTEM_MENU) as shown now (for the popup and for
  // tests); `rows`, when given, receives the rows its favorite commands name.
  UniqueMenu BuildMenu(std::vector<core::RowId>* rows = nullptr) const;

  bool proxy_icon_on() const { return proxy_icon_on_; }
  ProxyListDialog& dialog() { return dialog_; }
  // For tests: the timers of the fade and of the tray's blink.
  const Timer& fade_timer() const { return fade_timer_; }
  const Timer& blink_timer() const { return blink_timer_; }
  ProxyDropTarget& drop_target() { return drop_target_; }
  const TrayIcon& tray() const { return tray_; }
  bool final_saved() const { return final_saved_; }
  BYTE alpha() const { return alpha_; }
  // True while the tray shows its alternate frame (IDI_TRAY_BUSY).
  bool tray_alternate_frame() const { return tray_blink_; }
  // The tooltip's text (the exit check's, while the check is on).
  std::wstring tooltip_text() const;
  HWND tooltip() const { return tooltip_; }

  // Moves the opacity one step toward `target` (clamped to 0..255).
  void StepWindowAlpha(int target, int step);

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam) override;

 private:
  bool OnCreate();
  void OnPaint();
  void OnCommand(int id);
  // Favorite `n` of `rows` (a menu's, in order): its row becomes the proxy in
  // use; past the last favorite the proxy is turned off.
  void UseFavorite(const std::vector<core::RowId>& rows, size_t n);
  void OnTrayNotify(UINT mouse_message);
  // The fade towards the cursor, and the tray's blink while workers run.
  void OnFadeTick();
  void OnBlinkTick();
  void OnProxyDropped(std::string text);
  void ShowPopupMenu(POINT at, bool from_tray);
  void RestorePosition();
  void SaveListAndPosition();
  void SetStateIcon(bool on);
  // The icon for the proxy in use: green when one is in use and its exit
  // check has not failed.
  void RefreshStateIcon();
  // The exit check is on and its last check failed.
  bool CheckFailed() const;
  void OnDestroy();

  void OnBrowserWatchTick();
  // A size in pixels at 96 dpi, for the display the window is on.
  int Px(int pixels_at_96_dpi) const;
  void ShowTrayIcon(bool on);

  // The tray's tip: the exit check's text when it runs, else the program's
  // (with the row that carries the connections when the relay went round the
  // row in use), then the word that no usable row passes the place filter.
  std::wstring TrayTip() const;

  // AppObserver
  void OnProxyChanged() override;
  void OnExitCheckChanged() override;
  void OnCarrierChanged() override { OnExitCheckChanged(); }
  void OnPlaceNoteChanged() override { OnExitCheckChanged(); }
  void OnRunSettingsChanged() override;

  AppServices& services_;
  const AppPlatform& platform_;
  Switcher& switcher_;
  FloatingWindowEnv env_;
  // Owned, loaded at the size it is drawn at (Px(32)): shared resource icons
  // are meant for the system's standard sizes only.
  UniqueIcon state_icon_;
  int state_icon_size_ = 0;
  bool proxy_icon_on_ = false;
  BYTE alpha_ = 255;
  bool tray_blink_ = false;
  bool final_saved_ = false;
  // The browser watch hid the window (or would have, had it been shown).
  bool hidden_by_watch_ = true;
  UINT taskbar_created_ = 0;
  ProxyListDialog dialog_;
  ProxyDropTarget drop_target_;
  TrayIcon tray_;
  HWND tooltip_ = nullptr;  // destroyed with the window (it is owned by it)
  UniqueFont tooltip_font_;
  // From the creation to the destruction of the window.
  Timer fade_timer_;
  Timer blink_timer_;
  Timer watch_timer_;
};

}  // namespace win
