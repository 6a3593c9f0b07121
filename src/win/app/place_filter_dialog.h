// PlaceFilterDialog (IDD_PLACE_FILTER, "选择地区和运营商"): the modal dialog that
// chooses the place filter. The provinces, cities and carriers of the list
// stand in a check-box list each, with their row counts; the filter in force
// comes up ticked, with the exclude box ("不要选中的地区"). Each tick counts
// again how many rows the choice lets through. UI thread only.
#pragma once

#include <windows.h>

#include <vector>

#include "core/proxylist/place_filter.h"
#include "core/proxylist/proxy_list.h"
#include "win/ui/dialog_base.h"

namespace win {

class PlaceFilterDialog final : public DialogBase {
 public:
  // Offers the places of `list` with `filter` ticked. The list is read again
  // for each count while the dialog is open, so it must outlive the dialog.
  PlaceFilterDialog(const core::ProxyList& list, core::PlaceFilter filter);

  // IDOK when confirmed (filter() is then the choice), IDCANCEL when
  // cancelled, -1 when the dialog failed.
  INT_PTR Run(HWND owner);
  const core::PlaceFilter& filter() const { return filter_; }

 protected:
  INT_PTR HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam) override;

 private:
  void OnInitDialog();
  // Fills the check-box list of one kind from choices_.
  void FillList(int id, core::PlaceKind kind, const char* heading);
  // The filter the ticks and the exclude box make now.
  core::PlaceFilter Ticked() const;
  // "符合条件的IP: n / total" for the ticks as they are.
  void ShowMatching();
  void ClearTicks();

  const core::ProxyList& list_;
  core::PlaceFilter filter_;
  std::vector<core::PlaceChoice> choices_;  // the items' lParam indexes these
  bool filling_ = false;
};

// Opens the dialog over `owner` with `*filter` ticked; on confirmation stores
// the choice in `*filter` and returns true.
bool RunPlaceFilterDialog(HWND owner, const core::ProxyList& list, core::PlaceFilter* filter);

}  // namespace win
