// RecordingInternetSettings: WinInet as the program sees it, for tests, with
// connections whose settings stay as set (Wine forgets auto-detect and the
// configuration script at once, and keeps one set of settings for every
// connection). Records the order of the writes and the notifications.
#pragma once

#include <windows.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "win/platform/system_proxy.h"

namespace win {

class RecordingInternetSettings final : public InternetSettings {
 public:
  std::vector<std::wstring> ConnectionEntries() override { return entries; }
  bool Query(const std::wstring& connection, ConnectionProxy* out) override {
    if (!readable) return false;
    *out = settings[connection];
    return true;
  }
  bool SetOptions(const std::wstring& connection, DWORD value, const std::wstring* s,
                  const std::wstring* bypass) override {
    order.push_back(connection);
    if (refused.count(connection)) return false;
    settings[connection].flags = value;
    if (s) settings[connection].server = *s;
    if (bypass) settings[connection].bypass = *bypass;
    return true;
  }
  void AnnounceChange(const std::wstring& text) override {
    ++announced;
    last_announced = text;
  }
  void Refresh() override { ++refreshed; }

  bool readable = true;
  std::vector<std::wstring> entries;
  std::set<std::wstring> refused;
  std::vector<std::wstring> order;
  std::map<std::wstring, ConnectionProxy> settings;
  int announced = 0;
  std::wstring last_announced;
  int refreshed = 0;
};

}  // namespace win
