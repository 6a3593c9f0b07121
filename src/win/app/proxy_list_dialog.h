// ProxyListDialog: the main dialog (IDD_PROXY_LIST), a view of the program's
// services. Its list view (IDC_PROXY_LIST) is a virtual list view that draws
// the switcher's ProxyList: the view asks for each visible cell and holds no
// copy of any row. Check boxes are the favorite flag; the selection is the
// list's too, asked for with each row and changed by ListSelectionInput from
// the clicks and keys that select. Its buttons send the user's commands to the
// services; what changes reaches it as an AppObserver. Created modeless and
// only hidden by "返回". UI thread only.
#pragma once

#include <windows.h>
// After windows.h, which it builds on.
#include <commctrl.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "win/app/app_services.h"
#include "win/app/download_progress_dialog.h"
#include "win/app/download_settings_dialog.h"
#include "win/app/list_selection_input.h"
#include "win/app/run_settings_dialog.h"
#include "win/app/verify_settings_dialog.h"
#include "win/platform/dispatcher.h"
#include "win/res/resource.h"
#include "win/ui/dialog_base.h"

namespace win {

// The public page that shows the caller's address, opened after a double click.
inline constexpr std::string_view kWhatIsMyIpPage = "https://ifconfig.me/";
// The help page that ships next to the program.
inline constexpr std::string_view kHelpPageFile = "relaymoth-help.html";

inline constexpr std::string_view kDeleteQuestion = "您确定要删除选中的IP吗？";
inline constexpr std::string_view kDeleteCaption = "请确认";
inline constexpr std::string_view kExportQuestion =
    "如果要导出选中的ip，请选择“是”，要导出全部列表，请选择“否”";
inline constexpr std::string_view kExportCaption = "请选择导出选中的ip还是全部的ip";

class ProxyListDialog final : public DialogBase,
                              private AppObserver,
                              private ListSelectionInput::Host {
 public:
  // `services` must outlive the dialog.
  explicit ProxyListDialog(AppServices& services);
  ~ProxyListDialog() override;

  bool Create(HWND parent);
  // Shows the dialog topmost.
  void Show();

  HWND list_view() const { return Item(IDC_PROXY_LIST); }
  // The verify settings dialog, created hidden with this dialog.
  VerifySettingsDialog& settings_dialog() { return settings_dialog_; }
  // The run settings dialog, created hidden with this dialog.
  RunSettingsDialog& run_settings_dialog() { return run_settings_dialog_; }
  // The download settings and progress dialogs, created hidden.
  DownloadSettingsDialog& download_settings_dialog() { return download_settings_dialog_; }
  DownloadProgressDialog& download_progress_dialog() { return download_progress_dialog_; }

  // While a run is on, rows finish by the hundred a second: the view then
  // catches up (the row to show, the caption, the rows that changed on screen)
  // on a timer, kViewRefreshMs after the first change, instead of once per
  // change.
  static constexpr UINT kViewRefreshMs = 100;
  // The caption's word on places is counted over the whole list: after rows
  // come or go it is counted again on a timer, once for a burst of changes.
  static constexpr UINT kPlaceCountMs = 500;
  // For tests: the view's catch-up, while it owes one.
  const Timer& refresh_timer() const { return refresh_timer_; }

  // Asks, then removes every selected row.
  void DeleteSelected();
  // The caption of the list's group box (IDC_LIST_GROUP): the verification's
  // (it says when it changes: rows added or removed, favorites, a run's
  // counters), then the import's note and the rows by place.
  void RefreshListCaption();
  void ImportFile(const std::string& path);

 private:
  INT_PTR HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam) override;
  void OnInitDialog();
  void OnCommand(int id);
  INT_PTR OnNotify(NMHDR* header);
  void OnGetDispInfo(NMLVDISPINFOW* info);
  // NM_CLICK, which the control sends for a click on a check box (the clicks
  // on rows are ListSelectionInput's): ticks the row and fills the edit.
  void OnClick();
  // A double click on `row` (-1: no row under the mouse).
  void OnDoubleClick(int row);
  void OnAdd();
  void OnImport();
  void OnExport(int command);
  void OnHelp();
  void ToggleChecks(int row);
  void ShowPopupMenu(int menu_id);
  void ShowSettings();
  // Sorts the list; the view's focus and selection mark follow their rows.
  void SortKeepingFocus(int column, int flag);
  // The automatic switching button with the interval edit's text.
  void OnToggleAutoSwitch();
  // "选择地区和运营商...": the place filter's dialog; a confirmed choice goes
  // into force.
  void OnChoosePlaces();
  // Counts the rows by place for the caption (core::PlaceCaptionNote), now.
  void RefreshPlaceCount();
  void SchedulePlaceCount();

  // AppObserver
  void OnRowsAppended(size_t first, size_t count) override;
  void OnRowChanged(size_t row) override;
  void OnRowsReset() override;
  void OnSelectionChanged() override;
  void OnVerifyRunControls(bool running) override;
  void OnShowRow(size_t row) override;
  void OnCaptionChanged() override;
  void OnExitCheckChanged() override;
  void OnCarrierChanged() override { OnExitCheckChanged(); }
  void OnPlaceNoteChanged() override { OnExitCheckChanged(); }
  void OnPlaceFilterChanged() override { RefreshPlaceCount(); }
  HWND MessageOwner() const override { return hwnd(); }

  // ListSelectionInput::Host
  void OnRowClicked(int row) override;
  void OnListContextMenu() override { ShowPopupMenu(IDR_LIST_MENU); }
  void OnTickSelected() override { ToggleChecks(-1); }

  // Makes the view's item count match the model and draws it again.
  void SyncRowCount();
  bool VerifyRunOn() const { return services_.verify().running(); }
  void ScheduleViewRefresh();
  // Brings the view up to date with what the run changed since the last tick.
  void RefreshView();

  AppServices& services_;
  const AppPlatform& platform_;
  Switcher& switcher_;
  core::ProxyList& list_;
  Prompt& prompt_;
  VerifySettingsDialog settings_dialog_;
  RunSettingsDialog run_settings_dialog_;
  DownloadSettingsDialog download_settings_dialog_;
  DownloadProgressDialog download_progress_dialog_;
  ListSelectionInput selection_input_;
  std::wstring cell_;  // the text handed to the view for the cell it asked for
  // What the view still owes a run (see kViewRefreshMs).
  Timer refresh_timer_;
  bool caption_stale_ = false;
  std::optional<size_t> row_to_show_;
  std::optional<std::pair<size_t, size_t>> stale_rows_;  // first, last
  std::string place_caption_;                            // see kPlaceCountMs
  Timer place_timer_;
};

}  // namespace win
