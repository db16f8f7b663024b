// The dialog classes' side of the dialog process, against a scripted
// process on a socket pair: what crosses, what stays here, and what the
// dialogs see when the process fails.
#include "ui/process_toolkit.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/process_channel_posix.h"
#include "ui/dialog_failure.h"
#include "ui/dialog_wire.h"

namespace {

using ui::wire::Event;
using ui::wire::Kind;
using ui::wire::Method;
using ui::wire::Reader;
using ui::wire::Writer;

constexpr int kTree = 10;
constexpr int kEdit = 11;

class FakeProcess : public platform::ChildProcess {
 public:
  FakeProcess(int fd, std::string how) : how_(std::move(how)) {
    channel_ = platform::ChannelOnSocket(fd);
  }
  std::string WaitForEnd(int) override { return how_; }
  int Id() const override { return 4242; }

 private:
  std::string how_;
};

// The process's end of the channel, played by the test on a thread.
class FakeProgram {
 public:
  FakeProgram() {
    int fds[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    hostFd_ = fds[0];
    channel_ = platform::ChannelOnSocket(fds[1]);
  }
  ~FakeProgram() {
    if (script_.joinable()) script_.join();
  }
  ui::ProcessToolkit::Starter Starter(std::string how = "exit status 0") {
    return [this, how](std::string*) -> std::unique_ptr<platform::ChildProcess> {
      return std::make_unique<FakeProcess>(hostFd_, how);
    };
  }
  void Play(std::function<void(FakeProgram&)> script) {
    script_ = std::thread([this, script] { script(*this); });
  }

  // The next frame (its kind first); an empty frame once the host closed.
  std::string Next() {
    std::string frame;
    bool damaged = false;
    char chunk[4096];
    while (!in_.Next(&frame, &damaged)) {
      const int got = channel_->Read(chunk, sizeof chunk, 5000);
      if (got <= 0) return std::string();
      in_.Add(chunk, static_cast<size_t>(got));
    }
    return frame;
  }
  static Kind KindOf(const std::string& frame) {
    Reader r(frame.data(), frame.size());
    return r.TheKind();
  }
  // Frames until one of kind; those before it are kept in Skipped.
  std::string Until(Kind kind) {
    for (std::string frame = Next(); !frame.empty(); frame = Next()) {
      if (KindOf(frame) == kind) return frame;
      Skipped.push_back(frame);
    }
    ADD_FAILURE() << "no frame of kind " << static_cast<int>(kind);
    return std::string();
  }
  void Send(Kind kind, std::vector<int> numbers, const std::string* text = nullptr) {
    Writer w;
    w.Begin(kind);
    for (int n : numbers) w.Int(n);
    if (text != nullptr) w.Text(*text);
    w.End();
    channel_->Write(w.Bytes().data(), w.Bytes().size());
  }
  void Ready() {
    EXPECT_EQ(KindOf(Next()), Kind::kHello);
    Send(Kind::kReady, {});
  }
  void Event(int window, int number, ui::wire::Event event, int a = 0) {
    Send(Kind::kEvent, {window, number, static_cast<int>(event), a, 0});
  }
  void Answer(int number, const std::string& text = std::string()) {
    Send(Kind::kAnswer, {number}, &text);
  }
  void Close() { channel_->Shutdown(); }

  std::vector<std::string> Skipped;

 private:
  int hostFd_ = -1;
  std::unique_ptr<platform::ProcessChannel> channel_;
  ui::wire::FrameBuffer in_;
  std::thread script_;
};

const ui::DialogResource& TestResource() {
  static const ui::DialogResource resource = {
      900,
      "Test",
      "MS Sans Serif",
      8,
      100,
      100,
      {{kTree, ui::ControlKind::kTreeView, 0, "", 0, 0, 50, 50, {}},
       {kEdit, ui::ControlKind::kEdit, 0, "", 0, 60, 50, 12, {}}}};
  return resource;
}

class TestDialog : public ui::CDialog {
 public:
  explicit TestDialog(ui::Toolkit& toolkit) : ui::CDialog(toolkit, 900) {}
  const ui::DialogResource* Resource() const override { return &TestResource(); }
  int OnInitDialog() override {
    if (init) init(Win());
    return 1;
  }
  void OnTimer(int timerId) override {
    if (timer) timer(Win(), timerId);
  }
  void OnDestroy() override { ++destroyed; }

  std::function<void(ui::DialogWindow&)> init;
  std::function<void(ui::DialogWindow&, int)> timer;
  int destroyed = 0;
};

// Filling a tree crosses as calls without answers; the data pointers and
// images stay here, only numbers cross; items below a deleted item are
// gone, and a tree item needs a tree control.
TEST(ProcessToolkitTest, ATreeFillsWithoutAnswersAndItsDataStaysHere) {
  FakeProgram program;
  ui::ProcessToolkit toolkit(program.Starter());
  TestDialog dialog(toolkit);
  int x = 0, y = 0, z = 0;
  dialog.init = [&](ui::DialogWindow& w) {
    const ui::TreeItem a = w.InsertTreeItem(kTree, ui::kNoTreeItem, "root", 0, &x);
    const ui::TreeItem b = w.InsertTreeItem(kTree, a, "child", 1, &y);
    const ui::TreeItem c = w.InsertTreeItem(kTree, b, "grandchild", 2, &z);
    EXPECT_NE(a, ui::kNoTreeItem);
    EXPECT_NE(c, ui::kNoTreeItem);
    EXPECT_EQ(w.GetTreeItemData(kTree, b), &y);
    EXPECT_EQ(w.GetTreeItemImage(kTree, c), 2);
    w.DeleteTreeItem(kTree, b);
    EXPECT_EQ(w.GetTreeItemData(kTree, c), nullptr);
    EXPECT_EQ(w.GetTreeItemImage(kTree, c), -1);
    EXPECT_EQ(w.InsertTreeItem(kTree, c, "under a deleted one", 0, nullptr), ui::kNoTreeItem);
    EXPECT_EQ(w.InsertTreeItem(kEdit, ui::kNoTreeItem, "in an edit", 0, nullptr), ui::kNoTreeItem);
    EXPECT_EQ(w.GetTreeItemData(kEdit, a), nullptr);  // an item of another control
    EXPECT_EQ(w.GetTreeItemData(kTree, a), &x);
    w.SetEntryData(kEdit, 0, &x);
  };
  std::vector<std::string> calls;
  program.Play([&](FakeProgram& p) {
    p.Ready();
    std::string show = p.Until(Kind::kShow);
    Reader r(show.data(), show.size());
    r.TheKind();
    EXPECT_EQ(r.Int(), 1);  // window
    EXPECT_EQ(r.Int(), 0);  // no parent
    EXPECT_EQ(r.Int(), 900);
    EXPECT_EQ(static_cast<unsigned>(r.Int()), 0x89abcdefu);  // the host's window
    EXPECT_EQ(r.Int(), 0x12);
    p.Event(1, 1, Event::kInit);
    p.Skipped.clear();
    p.Until(Kind::kDone);
    calls = p.Skipped;
    p.Send(Kind::kEnded, {1, 1});
  });
  EXPECT_EQ(toolkit.RunModal(dialog, nullptr, reinterpret_cast<void*>(0x1289abcdefULL)), 1);
  // Three items, one deletion and the data number: calls only.
  ASSERT_EQ(calls.size(), 5u);
  std::vector<int> methods;
  for (const std::string& frame : calls) {
    Reader r(frame.data(), frame.size());
    EXPECT_EQ(r.TheKind(), Kind::kCall);
    r.Int();
    methods.push_back(r.Int());
    if (methods.back() == static_cast<int>(Method::kSetEntryData)) {
      r.Int();
      r.Int();
      EXPECT_EQ(r.Int(), 1);  // the pointer's number, not the pointer
    }
  }
  EXPECT_EQ(methods, (std::vector<int>{static_cast<int>(Method::kInsertTreeItem),
                                       static_cast<int>(Method::kInsertTreeItem),
                                       static_cast<int>(Method::kInsertTreeItem),
                                       static_cast<int>(Method::kDeleteTreeItem),
                                       static_cast<int>(Method::kSetEntryData)}));
  EXPECT_EQ(dialog.Window(), nullptr);
}

// The process dies while the dialog waits for a getter's answer: the
// getter throws (nothing half-read gets saved), a message box answers No,
// a nested dialog is not shown, the dialog hears OnDestroy once, and the
// call raises why once.
TEST(ProcessToolkitTest, AProcessDyingUnderAGetterEndsTheDialogOnceAndSaysWhy) {
  FakeProgram program;
  ui::ProcessToolkit toolkit(program.Starter("killed by signal 9"));
  TestDialog dialog(toolkit);
  bool threw = false;
  int answer = 0;
  int nested = 0;
  dialog.init = [&](ui::DialogWindow& w) {
    try {
      w.GetText(kEdit);
    } catch (const ui::DialogUnavailable&) {
      threw = true;
    }
    answer = w.MessageBox("Delete?", ui::MsgButtons::kYesNo, ui::MsgIcon::kQuestion, 0);
    TestDialog inner(toolkit);
    nested = inner.DoModal(&dialog);
    EXPECT_EQ(inner.destroyed, 0);
    w.GetText(kEdit);  // throws again, caught by the toolkit
    ADD_FAILURE() << "a getter answered after the process had gone";
  };
  program.Play([](FakeProgram& p) {
    p.Ready();
    p.Until(Kind::kShow);
    p.Event(1, 1, Event::kInit);
    p.Until(Kind::kAsk);
    p.Close();
  });
  try {
    toolkit.RunModal(dialog, nullptr, nullptr);
    ADD_FAILURE() << "no failure raised";
  } catch (const ui::DialogUnavailable& failure) {
    EXPECT_TRUE(failure.Shown());
    EXPECT_STREQ(failure.what(), "the dialog process 4242 ended (killed by signal 9)");
  }
  EXPECT_TRUE(threw);
  EXPECT_EQ(answer, ui::kAnswerNo);
  EXPECT_EQ(nested, ui::kResultCancel);
  EXPECT_EQ(dialog.destroyed, 1);
  EXPECT_EQ(dialog.Window(), nullptr);
}

// A timer that fires under a message box reaches the dialog (with its own
// getter answered) before the box's answer does, as on the dialog's thread.
TEST(ProcessToolkitTest, ATimerUnderAMessageBoxComesBeforeTheBoxAnswers) {
  FakeProgram program;
  ui::ProcessToolkit toolkit(program.Starter());
  TestDialog dialog(toolkit);
  std::vector<std::string> order;
  dialog.init = [&](ui::DialogWindow& w) {
    order.push_back("box");
    const int answer = w.MessageBox("Sure?", ui::MsgButtons::kYesNo, ui::MsgIcon::kNone, 0);
    order.push_back("answer " + std::to_string(answer));
  };
  dialog.timer = [&](ui::DialogWindow& w, int id) {
    order.push_back("timer " + std::to_string(id) + " " + w.GetText(kEdit));
  };
  program.Play([](FakeProgram& p) {
    p.Ready();
    p.Until(Kind::kShow);
    p.Event(1, 1, Event::kInit);
    p.Until(Kind::kAsk);  // the box
    p.Event(1, 2, Event::kTimer, 7);
    p.Until(Kind::kAsk);  // the timer's getter
    p.Answer(0, "typed");
    p.Until(Kind::kDone);  // the timer handled
    p.Answer(ui::kAnswerYes);
    p.Until(Kind::kDone);  // the init handled
    p.Send(Kind::kEnded, {1, 2});
  });
  EXPECT_EQ(toolkit.RunModal(dialog, nullptr, nullptr), 2);
  EXPECT_EQ(order, (std::vector<std::string>{"box", "timer 7 typed", "answer 6"}));
}

// An end posted from another thread while the dialog's thread waits for
// the process reaches the process at once.
TEST(ProcessToolkitTest, AnEndPostedFromAnotherThreadReachesTheProcess) {
  FakeProgram program;
  ui::ProcessToolkit toolkit(program.Starter());
  TestDialog dialog(toolkit);
  program.Play([&](FakeProgram& p) {
    p.Ready();
    p.Until(Kind::kShow);
    p.Event(1, 1, Event::kInit);
    p.Until(Kind::kDone);
    std::thread([&] { dialog.PostEndDialog(ui::kResultCancel); }).join();
    const std::string end = p.Until(Kind::kPostEnd);
    Reader r(end.data(), end.size());
    r.TheKind();
    EXPECT_EQ(r.Int(), 1);
    p.Send(Kind::kEnded, {1, r.Int()});
  });
  EXPECT_EQ(toolkit.RunModal(dialog, nullptr, nullptr), ui::kResultCancel);
}

// A process that cannot start its toolkit, or goes without a word, or a
// program that cannot be started: the call raises why, nothing was shown.
TEST(ProcessToolkitTest, AProcessThatDoesNotStartRaisesWhyBeforeAnythingIsShown) {
  auto expectNotShown = [](ui::ProcessToolkit& toolkit, const std::string& why) {
    TestDialog dialog(toolkit);
    try {
      toolkit.RunModal(dialog, nullptr, nullptr);
      ADD_FAILURE() << "no failure raised";
    } catch (const ui::DialogUnavailable& failure) {
      EXPECT_FALSE(failure.Shown());
      EXPECT_EQ(failure.what(), why);
    }
    EXPECT_EQ(dialog.destroyed, 0);
  };
  {
    FakeProgram program;
    ui::ProcessToolkit toolkit(program.Starter());
    program.Play([](FakeProgram& p) {
      p.Next();
      const std::string why = "cannot open display :4711";
      p.Send(Kind::kFailed, {}, &why);
    });
    expectNotShown(toolkit, "cannot open display :4711");
  }
  {
    FakeProgram program;
    ui::ProcessToolkit toolkit(program.Starter("exit status 1"));
    program.Play([](FakeProgram& p) {
      p.Next();
      p.Close();
    });
    expectNotShown(toolkit, "the dialog process 4242 ended (exit status 1)");
  }
  ui::ProcessToolkit missing([](std::string* why) -> std::unique_ptr<platform::ChildProcess> {
    *why = "the dialog program /x/QUARO7K7_PTZ_setup cannot be started: No such file or directory";
    return nullptr;
  });
  expectNotShown(missing,
                 "the dialog program /x/QUARO7K7_PTZ_setup cannot be started: No such file or "
                 "directory");
}

}  // namespace
