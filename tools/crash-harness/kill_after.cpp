// qb-kill-after <ms> <program> [args...]: runs a program and, unless it
// exits first, kills it with TerminateProcess after <ms> milliseconds: the
// harsh way a crash or a power cut ends a host. Exit code: the program's
// exit code, or 137 when it was killed.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::wstring quote(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  for (wchar_t c : arg) {
    if (c == L'"') out += L'\\';
    out += c;
  }
  return out + L"\"";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: qb-kill-after <ms> <program> [args...]\n");
    return 2;
  }
  const DWORD ms = static_cast<DWORD>(std::wcstoul(argv[1], nullptr, 10));
  std::wstring command;
  for (int i = 2; i < argc; ++i) command += (i > 2 ? L" " : L"") + quote(argv[i]);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    std::fprintf(stderr, "qb-kill-after: cannot start the program (%lu)\n", GetLastError());
    return 2;
  }
  DWORD code = 137;
  if (WaitForSingleObject(pi.hProcess, ms) == WAIT_TIMEOUT) {
    TerminateProcess(pi.hProcess, 137);
    WaitForSingleObject(pi.hProcess, INFINITE);
  } else {
    GetExitCodeProcess(pi.hProcess, &code);
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<int>(code);
}
