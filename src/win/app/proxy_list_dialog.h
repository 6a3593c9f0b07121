// ProxyListDialog: the main dialog (template 102). Its list view (control 1000) is
// a virtual list view that draws the core ProxyList it owns: the view asks for
// each visible cell and holds no copy of any row. Check boxes are the favourite
// flag, the view's selection is mirrored into the model. Created modeless by the
// FloatingWindow and only hidden by "返回". It runs the verification of the list
// (VerifyController) and is the verify scheduler's host. UI thread only.
#pragma once

#include <windows.h>
// After windows.h, which it builds on.
#include <commctrl.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/base/codepage.h"
#include "core/proxylist/profile_store.h"
#include "core/proxylist/proxy_list.h"
#include "core/verify/verify_scheduler.h"
#include "win/app/prompt.h"
#include "win/app/verify_controller.h"
#include "win/ui/dialog_base.h"

namespace win {

// The public page that shows the caller's address, opened after a double click.
inline constexpr std::string_view kWhatIsMyIpPage = "https://ifconfig.me/";
// The help page that ships next to the program.
inline constexpr std::string_view kHelpPageFile = "relaymoth-help.html";

inline constexpr std::string_view kDeleteQuestion = "您确定要删除这些IP网站？";
inline constexpr std::string_view kDeleteCaption = "请确认";
inline constexpr std::string_view kExportQuestion =
    "如果要导出选中的ip，请选择“是”，要导出全部列表，请选择“否”";
inline constexpr std::string_view kExportCaption = "请选择导出选中的ip还是全部的ip";

class ProxyListDialog final : public DialogBase,
                              private core::ProxyListObserver,
                              private core::VerifyHost {
 public:
  // `switch_proxy` applies a proxy text as the system proxy (the floating window's
  // SetSystemProxy); `clear_proxy` empties the floating window's current proxy
  // and clears the system proxy. `profile` holds the verify settings and must
  // outlive the dialog.
  ProxyListDialog(HINSTANCE instance, Prompt& prompt, const core::AnsiCodec& codec,
                  core::ProfileStore& profile, std::function<void(std::string_view)> switch_proxy,
                  std::function<void()> clear_proxy, VerifyEnv verify_env = {});
  ~ProxyListDialog() override;

  bool Create(HWND parent);

  core::ProxyList& list() { return list_; }
  const core::ProxyList& list() const { return list_; }
  HWND list_view() const { return Item(1000); }

  // Adds one line (see core::ProxyList::AddProxy); the caption is the caller's.
  int AddProxy(std::string_view line, bool favourite) { return list_.AddProxy(line, favourite); }
  // Asks, then removes every selected row.
  void DeleteSelected();
  // The caption of group box 1019: totals, or the run's counters while a
  // verification runs.
  void RefreshListCaption();
  void ImportFile(const std::string& path);

  // The verification; null before the dialog window exists.
  VerifyController* verifier() { return verifier_.get(); }
  // Rows handed to workers and not finished yet; above 0 while a run is on.
  int active_verify_workers() const {
    return verifier_ ? verifier_->scheduler().activeWorkers() : 0;
  }
  // Menu "验证全部ip": verifies every row without checks and without clearing
  // the system proxy.
  void StartVerifyAll();
  // The one-minute tick of the re-verification schedule.
  void ReverifyTick();
  // Exit: lets every worker go without waiting; nothing is reported afterwards.
  void ReleaseVerifyWorkers();

 private:
  INT_PTR HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam) override;
  void OnInitDialog();
  void OnCommand(int id);
  INT_PTR OnNotify(NMHDR* header);
  void OnGetDispInfo(NMLVDISPINFOW* info);
  void OnClick(bool right);
  void OnDoubleClick();
  void OnItemChanged(const NMLISTVIEW* change);
  void OnAdd();
  void OnImport();
  void OnExport(int command);
  void OnHelp();
  void ToggleChecks(int row);
  void ShowPopupMenu(int menu_id);

  // core::ProxyListObserver
  void OnRowsAppended(size_t first, size_t count) override;
  void OnRowChanged(size_t row) override;
  void OnRowsReset() override;
  void OnFavouritesChanged() override;

  // core::VerifyHost
  void ShowMessage(std::string_view text, std::string_view caption) override;
  void SetRunControls(bool running) override;
  void ClearSystemProxy() override;
  void UseProxy(const std::string& host_port) override;
  void ShowRow(size_t row) override;
  void RefreshCaption() override;

  // Makes the view's item count and selection match the model.
  void SyncSelection(size_t first);

  HINSTANCE instance_;
  Prompt& prompt_;
  const core::AnsiCodec& codec_;
  core::ProfileStore& profile_;
  std::function<void(std::string_view)> switch_proxy_;
  std::function<void()> clear_proxy_;
  VerifyEnv verify_env_;
  core::ProxyList list_;
  // Declared after the list: the scheduler refers to it.
  std::unique_ptr<VerifyController> verifier_;
  // Set while the dialog itself changes the view's selection, so the view's
  // notifications are not fed back into the model.
  bool syncing_ = false;
  std::wstring cell_;  // the text handed to the view for the cell it asked for
};

}  // namespace win
