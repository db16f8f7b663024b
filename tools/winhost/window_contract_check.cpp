// win32-window-contract: the window interface's rules at its edges, checked
// in the Win32 renderer's real dialogs (under Wine by scripts/wine-tests.sh),
// the same checks the tests' fake and the wxWidgets renderer pass. Prints
// each broken rule and "N broken"; exit status 0 when none is, 3 when a
// dialog did not open at all.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ui/win32/win32_toolkit.h"
#include "window_contract.h"

namespace {

std::vector<std::string> RootTexts(ui::CDialog& dialog, int treeId) {
  std::vector<std::string> texts;
  HWND window = FindWindowA(MAKEINTATOM(32770), dialog.Resource()->caption);
  HWND tree = window != nullptr ? GetDlgItem(window, treeId) : nullptr;
  if (tree == nullptr) return texts;
  for (auto item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
       item != nullptr; item = reinterpret_cast<HTREEITEM>(SendMessageA(
                            tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)))) {
    char text[256] = {};
    TVITEMA entry{};
    entry.mask = TVIF_HANDLE | TVIF_TEXT;
    entry.hItem = item;
    entry.pszText = text;
    entry.cchTextMax = sizeof text;
    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&entry));
    texts.push_back(text);
  }
  return texts;
}

}  // namespace

int main() {
  uiwin32::Win32Toolkit toolkit;
  const std::vector<std::string> broken = contract::CheckWindowContract(toolkit, RootTexts);
  bool notShown = false;
  for (const std::string& line : broken) {
    std::printf("BROKEN: %s\n", line.c_str());
    if (line.find(contract::kNotShown) != std::string::npos) notShown = true;
  }
  std::printf("%d broken\n", static_cast<int>(broken.size()));
  // 3: a dialog did not open at all, which says nothing of the rules.
  return broken.empty() ? 0 : notShown ? 3 : 1;
}
