// The window interface's rules as the library's dialogs meet them on Linux:
// every call crosses the channel to the dialog program (the tests' copy,
// with the probe), which carries it out on its wxWidgets windows. The same
// checks as for the fake and the renderer in this process.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "ui/process_toolkit.h"
#include "ui/resources.h"
#include "window_contract.h"
#include "window_probe.h"
#include "wx_test_util.h"

namespace {

namespace fs = std::filesystem;

class ProcessContractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!wxtest::HaveDisplay()) GTEST_SKIP() << "no display";
    char pattern[] = "/tmp/q7-contract-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    probe::UseProbeSocket(dir_ + "/probe.sock");
  }
  void TearDown() override {
    if (dir_.empty()) return;
    probe::EndAllDialogs();
    std::error_code error;
    fs::remove_all(dir_, error);
  }

  static std::unique_ptr<platform::ChildProcess> StartProgram(std::string* why) {
    return platform::StartChildProcess(QUARO7_PROBE_SETUP_PROGRAM, std::string(), why);
  }

  std::string dir_;
};

// The root items as the dialog program's tree shows them. The setters
// before this wait in the host's batch until its next question: one
// question first, so that the program has carried all of them out.
std::vector<std::string> ProgramRootTexts(ui::CDialog& dialog, int treeId) {
  if (ui::DialogWindow* window = dialog.RendererWindow()) (void)window->IsEnabled(treeId);
  return probe::RootTexts(dialog.Resource()->caption, treeId);
}

TEST_F(ProcessContractTest, TheWindowInterfacesRulesHoldThroughTheDialogProgram) {
  ui::ProcessToolkit toolkit(StartProgram);
  auto checks = std::async(std::launch::async, [&toolkit] {
    return contract::CheckWindowContract(toolkit, ProgramRootTexts);
  });
  ASSERT_EQ(checks.wait_for(std::chrono::seconds(60)), std::future_status::ready);
  for (const std::string& broken : checks.get()) ADD_FAILURE() << broken;
}

}  // namespace
