// AppObserver and AppEvents: how the views (and the services that follow the
// list) learn what changed in the program's state. The owner keeps one
// AppEvents; the owner and each service tell it what changed, and every
// registered observer hears it. UI thread only.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <vector>

#include "core/proxylist/proxy_list.h"

namespace win {

// Every method has an empty default, so an observer overrides only what it shows.
class AppObserver {
 public:
  virtual ~AppObserver() = default;
  // The list changed (see core::ProxyListObserver).
  virtual void OnRowsAppended(size_t /*first*/, size_t /*count*/) {}
  virtual void OnRowChanged(size_t /*row*/) {}
  virtual void OnRowsReset() {}
  virtual void OnFavoritesChanged() {}
  virtual void OnSelectionChanged() {}
  // A verification started (true) or ended (false): the controls that start
  // verifications or change the list follow.
  virtual void OnVerifyRunControls(bool /*running*/) {}
  // The row a worker was just handed; a list shows it.
  virtual void OnShowRow(size_t /*row*/) {}
  // The list caption (VerifyService::Caption) changed.
  virtual void OnCaptionChanged() {}
  // The proxy in use (Switcher::current_proxy) changed.
  virtual void OnProxyChanged() {}
  // The row in use failed and failover is on (Switcher::ReportFailure):
  // automatic switching, when on, moves on from it.
  virtual void OnProxyInUseFailed(core::RowId /*row*/) {}
  // The relay now carries the proxy in use's connections through another row,
  // or through its own again (Switcher::InUseName changed).
  virtual void OnCarrierChanged() {}
  // The place filter in force (Switcher::place_filter) changed.
  virtual void OnPlaceFilterChanged() {}
  // Whether automatic switching finds a usable row inside the place filter
  // changed (AutoSwitchService::place_note).
  virtual void OnPlaceNoteChanged() {}
  // The run settings (RunSettingsHolder::settings) changed.
  virtual void OnRunSettingsChanged() {}
  // The exit address check (ExitCheckService::check) changed: its tip text, the
  // red state.
  virtual void OnExitCheckChanged() {}
  // The window the program's message boxes belong to; null: none. The first
  // observer that names one owns them.
  virtual HWND MessageOwner() const { return nullptr; }
};

class AppEvents {
 public:
  void Add(AppObserver* observer) {
    if (observer && std::find(observers_.begin(), observers_.end(), observer) == observers_.end()) {
      observers_.push_back(observer);
    }
  }
  void Remove(AppObserver* observer) {
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer),
                     observers_.end());
  }
  // Calls `tell(observer)` for every observer in the order they were added.
  // Observers may add or remove observers meanwhile: the call walks a copy.
  template <typename F>
  void Tell(F&& tell) const {
    for (AppObserver* o : std::vector<AppObserver*>(observers_)) tell(*o);
  }
  HWND MessageOwner() const {
    for (AppObserver* o : observers_) {
      if (HWND owner = o->MessageOwner()) return owner;
    }
    return nullptr;
  }

 private:
  std::vector<AppObserver*> observers_;
};

}  // namespace win
