// The window interface's rules at its edges, kept by the tests' fake as by
// the renderers (the same checks run against them under Xvfb and Wine).
#include <gtest/gtest.h>

#include "ui_fake.h"
#include "window_contract.h"

namespace {

TEST(WindowContract, TheFakeKeepsTheWindowInterfacesRules) {
  uifake::FakeToolkit toolkit;
  const auto rootTexts = [&toolkit](ui::CDialog&, int) {
    std::vector<std::string> texts;
    uifake::FakeWindow& window = *toolkit.Open.back();
    for (ui::TreeItem item : window.TreeChildren(ui::kNoTreeItem))
      texts.push_back(window.Node(item)->text);
    return texts;
  };
  for (const std::string& broken : contract::CheckWindowContract(toolkit, rootTexts))
    ADD_FAILURE() << broken;
}

}  // namespace
