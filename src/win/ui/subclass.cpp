#include "win/ui/subclass.h"

#include <mutex>
#include <unordered_map>
#include <vector>

namespace win {
namespace {

struct Entry {
  SubclassProc proc;
  UINT_PTR id;
  DWORD_PTR ref;
  bool removed;
};

struct Chain {
  WNDPROC original = nullptr;
  std::vector<Entry> entries;  // oldest first; the newest sees a message first
  size_t next = 0;             // entries below this index are still to run
  int depth = 0;               // messages of this window being handled
  bool destroyed = false;      // WM_NCDESTROY has been handled
};

// Windows of every thread share the table; a chain itself is only touched by
// the thread that owns its window.
std::mutex table_mutex;
std::unordered_map<HWND, Chain*>& Table() {
  static auto* table = new std::unordered_map<HWND, Chain*>;
  return *table;
}

Chain* Find(HWND hwnd) {
  std::lock_guard<std::mutex> lock(table_mutex);
  auto it = Table().find(hwnd);
  return it == Table().end() ? nullptr : it->second;
}

void Forget(HWND hwnd) {
  std::lock_guard<std::mutex> lock(table_mutex);
  auto it = Table().find(hwnd);
  if (it == Table().end()) return;
  delete it->second;
  Table().erase(it);
}

LRESULT CALLBACK ChainProc(HWND, UINT, WPARAM, LPARAM);

bool ChainIsInstalled(HWND hwnd) {
  return GetWindowLongPtrW(hwnd, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&ChainProc);
}

// Between messages: removed entries go, and a window left without procedures
// gets its own procedure back (unless something was put in front of ours
// meanwhile; then the empty chain stays and only hands messages on).
void Settle(HWND hwnd, Chain* chain) {
  if (chain->destroyed) return Forget(hwnd);
  std::erase_if(chain->entries, [](const Entry& e) { return e.removed; });
  if (chain->entries.empty() && ChainIsInstalled(hwnd)) {
    SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(chain->original));
    Forget(hwnd);
  }
}

LRESULT CallNext(Chain* chain, HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  size_t at = chain->next;
  while (at > 0 && chain->entries[at - 1].removed) --at;
  const size_t saved = chain->next;
  LRESULT result = 0;
  if (at == 0) {
    chain->next = 0;
    result = CallWindowProcW(chain->original, hwnd, msg, wparam, lparam);
  } else {
    // A copy: a procedure added meanwhile may move the entries.
    const Entry entry = chain->entries[at - 1];
    chain->next = at - 1;
    result = entry.proc(hwnd, msg, wparam, lparam, entry.id, entry.ref);
  }
  chain->next = saved;
  return result;
}

LRESULT CALLBACK ChainProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  Chain* chain = Find(hwnd);
  if (chain == nullptr) return DefWindowProcW(hwnd, msg, wparam, lparam);
  // A message sent while another is in hand starts again from the newest.
  const size_t saved = chain->next;
  ++chain->depth;
  chain->next = chain->entries.size();
  const LRESULT result = CallNext(chain, hwnd, msg, wparam, lparam);
  chain->next = saved;
  --chain->depth;
  if (msg == WM_NCDESTROY) chain->destroyed = true;
  if (chain->depth == 0) Settle(hwnd, chain);
  return result;
}

}  // namespace

bool AddSubclass(HWND hwnd, SubclassProc proc, UINT_PTR id, DWORD_PTR ref) {
  if (proc == nullptr || !IsWindow(hwnd) ||
      GetWindowThreadProcessId(hwnd, nullptr) != GetCurrentThreadId()) {
    return false;
  }
  if (Chain* chain = Find(hwnd)) {
    for (Entry& entry : chain->entries) {
      if (!entry.removed && entry.proc == proc && entry.id == id) {
        entry.ref = ref;
        return true;
      }
    }
    chain->entries.push_back({proc, id, ref, false});
    return true;
  }
  auto* chain = new Chain;
  chain->entries.push_back({proc, id, ref, false});
  {
    std::lock_guard<std::mutex> lock(table_mutex);
    Table()[hwnd] = chain;
  }
  SetLastError(0);
  chain->original = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ChainProc)));
  if (chain->original == nullptr) {
    Forget(hwnd);
    return false;
  }
  return true;
}

bool RemoveSubclass(HWND hwnd, SubclassProc proc, UINT_PTR id) {
  Chain* chain = Find(hwnd);
  if (chain == nullptr) return false;
  for (Entry& entry : chain->entries) {
    if (!entry.removed && entry.proc == proc && entry.id == id) {
      // Marked only: a message in hand may still be walking the entries.
      entry.removed = true;
      if (chain->depth == 0) Settle(hwnd, chain);
      return true;
    }
  }
  return false;
}

bool FindSubclass(HWND hwnd, SubclassProc proc, UINT_PTR id, DWORD_PTR* ref) {
  Chain* chain = Find(hwnd);
  if (chain == nullptr) return false;
  for (const Entry& entry : chain->entries) {
    if (!entry.removed && entry.proc == proc && entry.id == id) {
      if (ref != nullptr) *ref = entry.ref;
      return true;
    }
  }
  return false;
}

LRESULT CallNextSubclass(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  Chain* chain = Find(hwnd);
  if (chain == nullptr) return DefWindowProcW(hwnd, msg, wparam, lparam);
  return CallNext(chain, hwnd, msg, wparam, lparam);
}

}  // namespace win
