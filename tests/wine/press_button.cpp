// Presses a button of another program's window, as an operator would: finds
// the top-level window by its title, then the button by its text, and clicks
// it. Used to end the Windows dialog under Wine with its own Quit button.
//   press_button TITLE BUTTON [WAIT_MS]
// Exit 0 pressed, 2 no such window within WAIT_MS, 3 no such button.

#include <windows.h>

#include <cwchar>
#include <string>

namespace {

struct Search {
  const wchar_t* text;
  HWND found;
};

BOOL CALLBACK MatchButton(HWND child, LPARAM context) {
  auto* search = reinterpret_cast<Search*>(context);
  wchar_t className[32];
  wchar_t text[128];
  if (GetClassNameW(child, className, 32) > 0 && _wcsicmp(className, L"Button") == 0 &&
      GetWindowTextW(child, text, 128) > 0 && std::wcscmp(text, search->text) == 0) {
    search->found = child;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fputws(L"usage: press_button TITLE BUTTON [WAIT_MS]\n", stderr);
    return 64;
  }
  const DWORD waitMs = argc > 3 ? static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)) : 20000;
  const DWORD start = GetTickCount();
  HWND window = nullptr;
  while ((window = FindWindowW(nullptr, argv[1])) == nullptr) {
    if (GetTickCount() - start > waitMs) {
      return 2;
    }
    Sleep(100);
  }
  Search search{argv[2], nullptr};
  // The controls may still be being made: look again for a while.
  while (EnumChildWindows(window, MatchButton, reinterpret_cast<LPARAM>(&search)),
         search.found == nullptr) {
    if (GetTickCount() - start > waitMs) {
      return 3;
    }
    Sleep(100);
  }
  // Posted: the press may open a box that waits for the operator.
  PostMessageW(search.found, BM_CLICK, 0, 0);
  return 0;
}
