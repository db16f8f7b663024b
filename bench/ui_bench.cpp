// The setup dialogs: opening the driver setup dialog on the largest
// configuration until its tree is filled, and one saving action of the
// dialogs on a 100-camera configuration against one atomic write of the
// same file.
//
// The driver objects live in this process (the dialog classes work on them
// directly). The real-window case loads the wxWidgets dialog module and
// needs a display; run it on one of its own with
//   tests/ui_wx/with-xvfb.sh build/bench/benchmarks --benchmark_filter=SetupDialog
// Without a display that case is skipped with a message; the same dialog is
// always measured through the tests' fake window too.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "camera/camera.h"
#include "comm/comm.h"
#include "domesim/domesim.h"
#include "driver/driver.h"
#include "driver/log.h"
#include "library_host.h"
#include "platform/child_process.h"
#include "platform/file_ops.h"
#include "platform/posix/serial_device_posix.h"
#include "ratio.h"
#include "ui/camera_setup_dlg.h"
#include "ui/dialog_numbers.h"
#include "ui/dialog_wire.h"
#include "ui/process_toolkit.h"
#include "ui/setup_dlg.h"
#include "ui/wx/module_api.h"
#include "ui_fake.h"

namespace {

using Clock = std::chrono::steady_clock;

const char kFile[] = "QUARO7K7_PTZ.xml";

// The driver of this process on a scratch directory holding a settings
// file, loaded as at initialisation, with its log on in the same directory
// (every dialog action logs).
class ScratchDriver {
 public:
  explicit ScratchDriver(std::string xml) : xml_(std::move(xml)) {
    char pattern[] = "/tmp/q7-uibench-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) throw std::runtime_error("mkdtemp");
    dir_ = made;
    DriverLog().SetLogPath(dir_);
    DriverLog().SetEnabled(1);
    platform::SetPortDirectoryForTesting(dir_ + "/ports");
  }
  ~ScratchDriver() {
    Close();
    DriverLog().SetEnabled(0);
    platform::SetPortDirectoryForTesting("");
    std::filesystem::remove_all(dir_);
  }
  ScratchDriver(const ScratchDriver&) = delete;
  ScratchDriver& operator=(const ScratchDriver&) = delete;

  const std::string& Dir() const { return dir_; }
  std::string FilePath() const { return dir_ + "/" + kFile; }

  // The file written afresh and the driver loaded from it.
  bool Reload() {
    Close();
    std::ofstream(FilePath(), std::ios::binary) << xml_;
    CVRTDriver& driver = Driver();
    driver.Settings.Folder = dir_;
    if (driver.Settings.OpenDocument(kFile, 1, 1) != 0) return false;
    return driver.Load() == 1;
  }

  static std::vector<CVRTComm*> Connections() {
    std::vector<CVRTComm*> list;
    Driver().GetConnections(&list);
    return list;
  }
  static std::vector<CVRTCamera*> Cameras(CVRTComm* connection) {
    std::vector<CVRTCamera*> list;
    connection->GetCameras(&list);
    return list;
  }

 private:
  static void Close() {
    Driver().DestroyConnections();
    while (Driver().Settings.CloseDocument() > 0) {
    }
  }

  std::string xml_;
  std::string dir_;
};

// The driver setup dialog noting when its tree is filled, then ending
// itself (posted, so that a real window is shown before it goes).
class TimedSetupDlg : public CVRTSetupDlg {
 public:
  using CVRTSetupDlg::CVRTSetupDlg;
  int OnInitDialog() override {
    const int result = CVRTSetupDlg::OnInitDialog();
    // A question to the window comes back once the renderer has carried out
    // every call before it (the dialog process draws while the dialog goes
    // on; in this process it costs nothing).
    Win().GetSelectedTreeItem(kTree);
    Filled = Clock::now();
    PostEndDialog(ui::kResultOk);
    return result;
  }
  Clock::time_point Filled;
};

void OpenLargest(benchmark::State& state, ui::Toolkit& toolkit) {
  ScratchDriver scratch(SettingsXml(12, 64, 64, 3));
  if (!scratch.Reload()) {
    state.SkipWithError("the configuration did not load");
    return;
  }
  size_t items = 0;
  for (auto _ : state) {
    TimedSetupDlg dialog(Driver(), toolkit);
    const Clock::time_point start = Clock::now();
    if (dialog.DoModal() != ui::kResultOk) state.SkipWithError("the dialog did not end with OK");
    const Clock::time_point closed = Clock::now();
    state.SetIterationTime(std::chrono::duration<double>(dialog.Filled - start).count());
    state.counters["closed_ms"] +=
        std::chrono::duration<double, std::milli>(closed - start).count();
  }
  for (CVRTComm* connection : ScratchDriver::Connections()) {
    items += 1;
    for (CVRTCamera* camera : ScratchDriver::Cameras(connection))
      items += 1 + camera->PrePositions.size();
  }
  state.counters["closed_ms"] /= static_cast<double>(state.iterations());
  state.counters["tree_items"] = static_cast<double>(items);
}

// 12 lines x 64 cameras x 64 presets: 50,000 tree items, drawn by the
// wxWidgets module. Time: from DoModal until the tree is filled;
// closed_ms: until the shown dialog has ended again.
void SetupDialog_OpenLargest_Wx(benchmark::State& state) {
  const char* display = getenv("DISPLAY");
  if (display == nullptr || *display == '\0') {
    state.SkipWithError(
        "no display: run the benchmarks under tests/ui_wx/with-xvfb.sh for the real window");
    return;
  }
#ifdef QUARO7_WX_MODULE_PATH
  void* module = dlopen(QUARO7_WX_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  auto entry = module != nullptr
                   ? reinterpret_cast<WxModuleEntry>(dlsym(module, QUARO7_WX_MODULE_ENTRY))
                   : nullptr;
  char why[512] = {0};
  // Kept for the rest of the process, as the driver keeps it.
  static ui::Toolkit* toolkit = nullptr;
  if (toolkit == nullptr && entry != nullptr)
    toolkit = entry(kWxModuleInterfaceVersion, why, static_cast<int>(sizeof why));
  if (toolkit == nullptr) {
    state.SkipWithError(
        (std::string("the dialog module cannot be used: ") + (module == nullptr ? dlerror() : why))
            .c_str());
    return;
  }
  OpenLargest(state, *toolkit);
#else
  state.SkipWithError("built without the wxWidgets dialog module");
#endif
}
BENCHMARK(SetupDialog_OpenLargest_Wx)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// The dialog module's toolkit of this process (nullptr with why).
ui::Toolkit* InProcessToolkit(std::string* why) {
#ifdef QUARO7_WX_MODULE_PATH
  static ui::Toolkit* toolkit = nullptr;
  static std::string failure;
  if (toolkit == nullptr && failure.empty()) {
    void* module = dlopen(QUARO7_WX_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    auto entry = module != nullptr
                     ? reinterpret_cast<WxModuleEntry>(dlsym(module, QUARO7_WX_MODULE_ENTRY))
                     : nullptr;
    char text[512] = {0};
    if (entry != nullptr) toolkit = entry(kWxModuleInterfaceVersion, text, sizeof text);
    if (toolkit == nullptr) failure = module == nullptr ? dlerror() : text;
  }
  *why = failure;
  return toolkit;
#else
  *why = "built without the wxWidgets dialog module";
  return nullptr;
#endif
}

bool HaveDisplay(benchmark::State& state) {
  const char* display = getenv("DISPLAY");
  if (display != nullptr && *display != '\0') return true;
  state.SkipWithError(
      "no display: run the benchmarks under tests/ui_wx/with-xvfb.sh for the real window");
  return false;
}

// The library's toolkit: the dialog program started for each dialog.
ui::ProcessToolkit& DialogProcessToolkit() {
  static ui::ProcessToolkit toolkit([](std::string* why) {
#ifdef QUARO7_SETUP_PROGRAM
    return platform::StartChildProcess(QUARO7_SETUP_PROGRAM, std::string(), why);
#else
    *why = "built without the dialog program";
    return std::unique_ptr<platform::ChildProcess>();
#endif
  });
  return toolkit;
}

// The same tree drawn by the dialog process: every item crosses the
// socket pair (batched), the process started afresh for each dialog.
void SetupDialog_OpenLargest_Process(benchmark::State& state) {
  if (!HaveDisplay(state)) return;
  OpenLargest(state, DialogProcessToolkit());
}
BENCHMARK(SetupDialog_OpenLargest_Process)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// A small dialog (About) until its OnInitDialog runs: through the dialog
// process, which starts for it (its start with wxWidgets and the display
// connection), against the in-process module, which runs already.
class TimedSmallDlg : public ui::CDialog {
 public:
  explicit TimedSmallDlg(ui::Toolkit& toolkit) : ui::CDialog(toolkit, ui::kDlgAbout) {}
  int OnInitDialog() override {
    Shown = Clock::now();
    PostEndDialog(ui::kResultOk);
    return 1;
  }
  Clock::time_point Shown;
};

void TimeSmallDialog(benchmark::State& state, ui::Toolkit& toolkit) {
  for (auto _ : state) {
    TimedSmallDlg dialog(toolkit);
    const Clock::time_point start = Clock::now();
    dialog.DoModal();
    state.SetIterationTime(std::chrono::duration<double>(dialog.Shown - start).count());
  }
}

void SetupDialog_SmallDialog_ProcessStart(benchmark::State& state) {
  if (!HaveDisplay(state)) return;
  TimeSmallDialog(state, DialogProcessToolkit());
}
BENCHMARK(SetupDialog_SmallDialog_ProcessStart)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

void SetupDialog_SmallDialog_InProcess(benchmark::State& state) {
  if (!HaveDisplay(state)) return;
  std::string why;
  ui::Toolkit* toolkit = InProcessToolkit(&why);
  if (toolkit == nullptr) {
    state.SkipWithError(("the dialog module cannot be used: " + why).c_str());
    return;
  }
  TimeSmallDialog(state, *toolkit);
}
BENCHMARK(SetupDialog_SmallDialog_InProcess)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

// The same through the tests' fake window (the dialog's own work and the
// driver's, without drawing).
void SetupDialog_OpenLargest_Fake(benchmark::State& state) {
  uifake::FakeToolkit toolkit;
  toolkit.On(ui::kDlgDriverSetup, [](uifake::FakeWindow&) {});
  OpenLargest(state, toolkit);
}
BENCHMARK(SetupDialog_OpenLargest_Fake)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// ---------------------------------------------------- saving actions

// 100 cameras with 16 presets and 3 relays each: 64 on the first line, 36
// on the second.
std::string HundredCameras() { return SettingsXml({64, 36}, 16, 3); }

// One action of the driver setup dialog through the fake window: before it
// (not timed) the configuration is loaded again and the tree item with
// itemText is clicked; then the click on button is timed, its question
// answered Yes. A nested dialog's script (nested) may move the start of the
// timing to the user's last action in it. done checks the driver after the
// last run.
using NestedScript = std::function<void(uifake::FakeToolkit&, Clock::time_point*, int run)>;

void TimeSetupAction(benchmark::State& state, const std::string& itemText, int button,
                     const NestedScript& nested, const std::function<bool()>& done) {
  ScratchDriver scratch(HundredCameras());
  domesim::DomeSimulator dome;
  dome.Publish(scratch.Dir(), 1);
  int run = 0;
  for (auto _ : state) {
    if (!scratch.Reload()) {
      state.SkipWithError("the configuration did not load");
      return;
    }
    uifake::FakeToolkit toolkit;
    Clock::time_point start;
    double seconds = 0;
    if (nested) nested(toolkit, &start, ++run);
    toolkit.Queue(ui::kDlgDriverSetup, [&](uifake::FakeWindow& w) {
      w.ClickTreeItemText(CVRTSetupDlg::kTree, itemText);
      toolkit.Answer(ui::kAnswerYes);
      start = Clock::now();
      w.Click(button);
      seconds = std::chrono::duration<double>(Clock::now() - start).count();
      w.Click(1);
    });
    CVRTSetupDlg dialog(Driver(), toolkit);
    dialog.DoModal();
    state.SetIterationTime(seconds);
  }
  if (!done()) state.SkipWithError("the action did not happen");
}

std::string FileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// Camera 10 of the first line (host number 10, one-based in the tree).
const char kTenthCamera[] = "010 [010]: Camera 10";

void SetupDialog_RemoveCamera(benchmark::State& state) {
  TimeSetupAction(state, kTenthCamera, CVRTSetupDlg::kCamRemove, nullptr, [] {
    return ScratchDriver::Connections().size() == 2 &&
           ScratchDriver::Cameras(ScratchDriver::Connections()[0]).size() == 63;
  });
}
BENCHMARK(SetupDialog_RemoveCamera)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

void SetupDialog_RemoveConnection(benchmark::State& state) {
  TimeSetupAction(state, "[COM1]  Line 1", CVRTSetupDlg::kCommRemove, nullptr,
                  [] { return ScratchDriver::Connections().size() == 1; });
}
BENCHMARK(SetupDialog_RemoveConnection)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);

// Configure on a camera of the line the dome simulator answers: in its
// camera setup dialog the name is changed and OK clicked; timed from that
// click until the driver setup dialog has saved the camera and refilled
// its tree.
void SetupDialog_ConfigureCameraOk(benchmark::State& state) {
  std::string lastName;
  TimeSetupAction(
      state, kTenthCamera, CVRTSetupDlg::kCamConfigure,
      [&lastName](uifake::FakeToolkit& toolkit, Clock::time_point* start, int run) {
        lastName = "Renamed " + std::to_string(run);
        toolkit.Queue(ui::kDlgCameraSetup, [start, name = lastName](uifake::FakeWindow& w) {
          w.Type(CVRTCameraSetupDlg::kNameEdit, name);
          *start = Clock::now();
          w.Click(1);
        });
      },
      [&lastName] {
        const std::vector<CVRTCamera*> cameras =
            ScratchDriver::Cameras(ScratchDriver::Connections().at(0));
        return cameras.at(9)->Name == lastName &&
               FileText(Driver().Settings.Folder + "/" + kFile).find("\"" + lastName + "\"") !=
                   std::string::npos;
      });
}
BENCHMARK(SetupDialog_ConfigureCameraOk)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);

// Baseline: the same 100-camera file written once the way every save
// writes it (a temporary file, flushed, renamed over).
void SetupDialog_Baseline_WriteFile(benchmark::State& state) {
  ScratchDriver scratch(HundredCameras());
  std::ofstream(scratch.FilePath(), std::ios::binary) << HundredCameras();
  const std::string path = scratch.FilePath();
  pugi::xml_document document;
  document.load_file(path.c_str(), pugi::parse_default | pugi::parse_ws_pcdata);
  for (auto _ : state) {
    const std::string temporary = platform::TemporaryFileBeside(path);
    if (!document.save_file(temporary.c_str(), "", pugi::format_raw, pugi::encoding_latin1) ||
        platform::ReplaceWithTemporaryFile(temporary, path) != 0)
      state.SkipWithError("write failed");
  }
}
BENCHMARK(SetupDialog_Baseline_WriteFile)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------- saving actions, drawn

// The dialog's window as the dialog sees it, with the user's part played
// here: message boxes answered Yes, tree items found by their text.
class AnsweringWindow : public ui::DialogWindow {
 public:
  explicit AnsweringWindow(ui::DialogWindow& w) : w_(w) {}
  std::map<std::string, ui::TreeItem> Items;

  void SetText(int id, const std::string& t) override { w_.SetText(id, t); }
  std::string GetText(int id) override { return w_.GetText(id); }
  void Enable(int id, bool e) override { w_.Enable(id, e); }
  bool IsEnabled(int id) override { return w_.IsEnabled(id); }
  void SetFocus(int id) override { w_.SetFocus(id); }
  void SetLimit(int id, int c) override { w_.SetLimit(id, c); }
  void SetCheck(int id, bool c) override { w_.SetCheck(id, c); }
  bool GetCheck(int id) override { return w_.GetCheck(id); }
  void ResetList(int id) override { w_.ResetList(id); }
  int AddEntry(int id, const std::string& t) override { return w_.AddEntry(id, t); }
  int InsertEntry(int id, int i, const std::string& t) override { return w_.InsertEntry(id, i, t); }
  int EntryCount(int id) override { return w_.EntryCount(id); }
  void SetEntryData(int id, int i, void* d) override { w_.SetEntryData(id, i, d); }
  void* GetEntryData(int id, int i) override { return w_.GetEntryData(id, i); }
  bool SetSelection(int id, int i) override { return w_.SetSelection(id, i); }
  int GetSelection(int id) override { return w_.GetSelection(id); }
  ui::TreeItem InsertTreeItem(int id, ui::TreeItem p, const std::string& t, int image,
                              void* d) override {
    const ui::TreeItem item = w_.InsertTreeItem(id, p, t, image, d);
    Items[t] = item;
    return item;
  }
  void SetTreeItemText(int id, ui::TreeItem i, const std::string& t) override {
    w_.SetTreeItemText(id, i, t);
  }
  std::string GetTreeItemText(int id, ui::TreeItem i) override { return w_.GetTreeItemText(id, i); }
  void DeleteTreeItem(int id, ui::TreeItem i) override { w_.DeleteTreeItem(id, i); }
  void DeleteAllTreeItems(int id) override { w_.DeleteAllTreeItems(id); }
  ui::TreeItem GetSelectedTreeItem(int id) override { return w_.GetSelectedTreeItem(id); }
  void SelectTreeItem(int id, ui::TreeItem i) override { w_.SelectTreeItem(id, i); }
  int GetTreeItemImage(int id, ui::TreeItem i) override { return w_.GetTreeItemImage(id, i); }
  void* GetTreeItemData(int id, ui::TreeItem i) override { return w_.GetTreeItemData(id, i); }
  void ExpandTreeItem(int id, ui::TreeItem i) override { w_.ExpandTreeItem(id, i); }
  void SortTreeChildren(int id, ui::TreeItem i) override { w_.SortTreeChildren(id, i); }
  void SetRedraw(int id, bool r) override { w_.SetRedraw(id, r); }
  void SetRange(int id, int l, int h) override { w_.SetRange(id, l, h); }
  void SetPosition(int id, int p) override { w_.SetPosition(id, p); }
  int GetPosition(int id) override { return w_.GetPosition(id); }
  int MessageBox(const std::string&, ui::MsgButtons, ui::MsgIcon, int) override {
    return ui::kAnswerYes;
  }
  void SetTimer(int t, int ms) override { w_.SetTimer(t, ms); }
  void KillTimer(int t) override { w_.KillTimer(t); }
  void EndDialog(int r) override { w_.EndDialog(r); }
  void PostEndDialog(int r) override { w_.PostEndDialog(r); }

 private:
  ui::DialogWindow& w_;
};

// The driver setup dialog in a real window: once its tree is filled the
// tree item is selected and the button clicked, the click timed (with its
// question answered Yes); then it ends itself.
class ActingSetupDlg : public CVRTSetupDlg {
 public:
  ActingSetupDlg(CVRTDriver& driver, ui::Toolkit& toolkit, std::string item, int button)
      : CVRTSetupDlg(driver, toolkit), item_(std::move(item)), button_(button) {}
  int OnInitDialog() override {
    // Between the dialog's text conversion and the renderer, so that the
    // conversion still comes first and the renderer last.
    ui::DialogWindow* real = RendererWindow();
    AnsweringWindow answering(*real);
    Attach(&answering);
    const int result = CVRTSetupDlg::OnInitDialog();
    auto found = answering.Items.find(item_);
    if (found != answering.Items.end()) {
      answering.SelectTreeItem(kTree, found->second);
      OnCommand(kTree, ui::Notify::kTreeSelChange);
      OnCommandUpdate();
      const Clock::time_point start = Clock::now();
      OnCommand(button_, ui::Notify::kClicked);
      OnCommandUpdate();
      Seconds = std::chrono::duration<double>(Clock::now() - start).count();
    }
    Attach(real);
    PostEndDialog(ui::kResultOk);
    return result;
  }
  double Seconds = -1;

 private:
  std::string item_;
  int button_;
};

void TimeDrawnAction(benchmark::State& state, ui::Toolkit& toolkit, const std::string& item,
                     int button) {
  ScratchDriver scratch(HundredCameras());
  for (auto _ : state) {
    state.PauseTiming();
    if (!scratch.Reload()) {
      state.SkipWithError("the configuration did not load");
      return;
    }
    state.ResumeTiming();
    ActingSetupDlg dialog(Driver(), toolkit, item, button);
    dialog.DoModal();
    if (dialog.Seconds < 0) {
      state.SkipWithError("the tree item was not there");
      return;
    }
    state.SetIterationTime(dialog.Seconds);
  }
}

void SetupDialog_RemoveCamera_Process(benchmark::State& state) {
  if (!HaveDisplay(state)) return;
  TimeDrawnAction(state, DialogProcessToolkit(), kTenthCamera, CVRTSetupDlg::kCamRemove);
}
BENCHMARK(SetupDialog_RemoveCamera_Process)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

void SetupDialog_RemoveCamera_InProcess(benchmark::State& state) {
  if (!HaveDisplay(state)) return;
  std::string why;
  ui::Toolkit* toolkit = InProcessToolkit(&why);
  if (toolkit == nullptr) {
    state.SkipWithError(("the dialog module cannot be used: " + why).c_str());
    return;
  }
  TimeDrawnAction(state, *toolkit, kTenthCamera, CVRTSetupDlg::kCamRemove);
}
BENCHMARK(SetupDialog_RemoveCamera_InProcess)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

void SetupDialog_RemoveConnection_Process(benchmark::State& state) {
  if (!HaveDisplay(state)) return;
  TimeDrawnAction(state, DialogProcessToolkit(), "[COM1]  Line 1", CVRTSetupDlg::kCommRemove);
}
BENCHMARK(SetupDialog_RemoveConnection_Process)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

void SetupDialog_RemoveConnection_InProcess(benchmark::State& state) {
  if (!HaveDisplay(state)) return;
  std::string why;
  ui::Toolkit* toolkit = InProcessToolkit(&why);
  if (toolkit == nullptr) {
    state.SkipWithError(("the dialog module cannot be used: " + why).c_str());
    return;
  }
  TimeDrawnAction(state, *toolkit, "[COM1]  Line 1", CVRTSetupDlg::kCommRemove);
}
BENCHMARK(SetupDialog_RemoveConnection_InProcess)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

// Configure Camera OK with the driver setup dialog drawn: its camera setup
// dialog runs on the tests' fake window (the name typed, OK clicked), the
// rest on the drawing toolkit. Timed from that OK until the renderer has
// carried out the refilled tree (a question to it comes back once it has).
class NestedOnFake : public ui::Toolkit {
 public:
  NestedOnFake(ui::Toolkit& drawing, std::string name)
      : drawing_(drawing), name_(std::move(name)) {}
  int RunModal(ui::CDialog& dialog, ui::CDialog* parent, void* hostParent) override {
    if (dialog.ResourceId() != ui::kDlgCameraSetup)
      return drawing_.RunModal(dialog, parent, hostParent);
    uifake::FakeToolkit fake;
    fake.Queue(ui::kDlgCameraSetup, [this](uifake::FakeWindow& w) {
      w.Type(CVRTCameraSetupDlg::kNameEdit, name_);
      Start = Clock::now();
      w.Click(1);
    });
    return fake.RunModal(dialog, parent, hostParent);
  }
  ui::TextEncoding Encoding() const override { return drawing_.Encoding(); }
  Clock::time_point Start;

 private:
  ui::Toolkit& drawing_;
  std::string name_;
};

class ConfiguringSetupDlg : public CVRTSetupDlg {
 public:
  ConfiguringSetupDlg(CVRTDriver& driver, NestedOnFake& toolkit)
      : CVRTSetupDlg(driver, toolkit), toolkit_(toolkit) {}
  int OnInitDialog() override {
    ui::DialogWindow* real = RendererWindow();
    AnsweringWindow answering(*real);
    Attach(&answering);
    const int result = CVRTSetupDlg::OnInitDialog();
    auto found = answering.Items.find(kTenthCamera);
    if (found != answering.Items.end()) {
      answering.SelectTreeItem(kTree, found->second);
      OnCommand(kTree, ui::Notify::kTreeSelChange);
      OnCommandUpdate();
      OnCommand(kCamConfigure, ui::Notify::kClicked);
      OnCommandUpdate();
      Win().GetSelectedTreeItem(kTree);
      Seconds = std::chrono::duration<double>(Clock::now() - toolkit_.Start).count();
    }
    Attach(real);
    PostEndDialog(ui::kResultOk);
    return result;
  }
  double Seconds = -1;

 private:
  NestedOnFake& toolkit_;
};

void TimeDrawnConfigure(benchmark::State& state, ui::Toolkit& drawing) {
  ScratchDriver scratch(HundredCameras());
  domesim::DomeSimulator dome;
  dome.Publish(scratch.Dir(), 1);
  int run = 0;
  std::string name;
  for (auto _ : state) {
    if (!scratch.Reload()) {
      state.SkipWithError("the configuration did not load");
      return;
    }
    name = "Renamed " + std::to_string(++run);
    NestedOnFake toolkit(drawing, name);
    ConfiguringSetupDlg dialog(Driver(), toolkit);
    dialog.DoModal();
    if (dialog.Seconds < 0) {
      state.SkipWithError("the tree item was not there");
      return;
    }
    state.SetIterationTime(dialog.Seconds);
  }
  if (ScratchDriver::Cameras(ScratchDriver::Connections().at(0)).at(9)->Name != name)
    state.SkipWithError("the camera was not renamed");
}

void SetupDialog_ConfigureCameraOk_Process(benchmark::State& state) {
  if (!HaveDisplay(state)) return;
  TimeDrawnConfigure(state, DialogProcessToolkit());
}
BENCHMARK(SetupDialog_ConfigureCameraOk_Process)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

void SetupDialog_ConfigureCameraOk_InProcess(benchmark::State& state) {
  if (!HaveDisplay(state)) return;
  std::string why;
  ui::Toolkit* toolkit = InProcessToolkit(&why);
  if (toolkit == nullptr) {
    state.SkipWithError(("the dialog module cannot be used: " + why).c_str());
    return;
  }
  TimeDrawnConfigure(state, *toolkit);
}
BENCHMARK(SetupDialog_ConfigureCameraOk_InProcess)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

static const bench::CompareTo kDrawn({"SetupDialog_OpenLargest_Process/iterations:3/manual_time"},
                                     "SetupDialog_OpenLargest_Wx/iterations:3/manual_time");
static const bench::CompareTo kStart(
    {"SetupDialog_SmallDialog_ProcessStart/iterations:10/manual_time"},
    "SetupDialog_SmallDialog_InProcess/iterations:10/manual_time");
static const bench::CompareTo kDrawnRemoveCamera(
    {"SetupDialog_RemoveCamera_Process/iterations:10/manual_time"},
    "SetupDialog_RemoveCamera_InProcess/iterations:10/manual_time");
static const bench::CompareTo kDrawnRemoveConnection(
    {"SetupDialog_RemoveConnection_Process/iterations:10/manual_time"},
    "SetupDialog_RemoveConnection_InProcess/iterations:10/manual_time");

static const bench::CompareTo kDrawnConfigureCamera(
    {"SetupDialog_ConfigureCameraOk_Process/iterations:10/manual_time"},
    "SetupDialog_ConfigureCameraOk_InProcess/iterations:10/manual_time");

static const bench::CompareTo kActions({"SetupDialog_RemoveCamera/iterations:20/manual_time",
                                        "SetupDialog_RemoveConnection/iterations:20/manual_time",
                                        "SetupDialog_ConfigureCameraOk/iterations:20/manual_time"},
                                       "SetupDialog_Baseline_WriteFile");

}  // namespace
