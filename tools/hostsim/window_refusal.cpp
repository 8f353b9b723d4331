#include "window_refusal.h"

#include <windows.h>

#include <atomic>
#include <cwchar>

namespace qbhostsim {
namespace {

constexpr wchar_t kSetupCaption[] = L"Quorbelle Sync setup";

std::atomic<bool> armed{false};
std::atomic<bool> refusing{false};

LRESULT CALLBACK vetoSetupWindow(int code, WPARAM wp, LPARAM lp) {
  if (code == HCBT_CREATEWND && refusing.load()) {
    const CREATESTRUCTW* create = reinterpret_cast<CBT_CREATEWNDW*>(lp)->lpcs;
    if (create->lpszName && !IS_INTRESOURCE(create->lpszName) && std::wcscmp(create->lpszName, kSetupCaption) == 0) {
      return 1;  // CreateWindowExW fails
    }
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

// Thread hooks need no module; a hook for all threads would reach every
// other process on the wineserver too.
void NTAPI onThreadStart(PVOID, DWORD reason, PVOID) {
  if (reason == DLL_THREAD_ATTACH && armed.load()) {
    SetWindowsHookExW(WH_CBT, &vetoSetupWindow, nullptr, GetCurrentThreadId());
  }
}

}  // namespace

void armWindowRefusal() { armed = true; }
void setWindowRefusal(bool refuse) { refusing = refuse; }

}  // namespace qbhostsim

// The executable's TLS callback: runs on every thread start, before the
// thread's own code.
extern "C" __attribute__((section(".CRT$XLF"), used)) const PIMAGE_TLS_CALLBACK qbHostsimThreadStart =
    &qbhostsim::onThreadStart;
