// The platform's writing of new files and its worker threads.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/file_ops.h"
#include "platform/worker_thread.h"

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

class WriteNewFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/q7write-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }
  std::string dir_;
};

TEST_F(WriteNewFileTest, CreatesEmptiesAndWritesEveryByte) {
  const std::string path = dir_ + "/a.xml";
  std::string bytes(200000, 'x');
  bytes[7] = '\0';  // not text: every byte counts
  ASSERT_TRUE(platform::WriteNewFile(path, bytes));
  EXPECT_EQ(Slurp(path), bytes);
  // A shorter content replaces the longer one entirely.
  ASSERT_TRUE(platform::WriteNewFile(path, "<settings/>\n"));
  EXPECT_EQ(Slurp(path), "<settings/>\n");
  ASSERT_TRUE(platform::WriteNewFile(path, ""));
  EXPECT_EQ(Slurp(path), "");
}

TEST_F(WriteNewFileTest, FailsWhereNoFileCanBeMade) {
  EXPECT_FALSE(platform::WriteNewFile(dir_ + "/missing/a.xml", "x"));
  EXPECT_FALSE(platform::WriteNewFile(dir_, "x"));  // a directory
}

// The connections' worker threads: a pass at once and then at its period,
// on a thread of their own, and a stop that waits for a pass in progress
// but not for the rest of a period.
TEST(PeriodicThreadTest, PassesRunOnTheirOwnThreadUntilStopped) {
  std::atomic<int> passes{0};
  std::atomic<bool> elsewhere{true};
  const std::thread::id self = std::this_thread::get_id();
  auto worker = platform::StartPeriodicThread(20, [&] {
    if (std::this_thread::get_id() == self) elsewhere = false;
    ++passes;
  });
  ASSERT_NE(worker, nullptr);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  const auto stop = std::chrono::steady_clock::now();
  EXPECT_TRUE(worker->Wait(3000));
  EXPECT_LT(std::chrono::steady_clock::now() - stop, std::chrono::milliseconds(100));
  const int seen = passes.load();
  EXPECT_GE(seen, 3);
  EXPECT_LE(seen, 9);
  EXPECT_TRUE(elsewhere);
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_EQ(passes.load(), seen);  // none after the stop
  EXPECT_TRUE(worker->Wait(0));    // a second wait finds it ended
}

TEST(PeriodicThreadTest, AStopWaitsForThePassInProgressOrSaysItDidNot) {
  std::atomic<bool> inPass{false};
  std::atomic<int> passes{0};
  auto worker = platform::StartPeriodicThread(10000, [&] {
    inPass = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ++passes;
  });
  ASSERT_NE(worker, nullptr);
  while (!inPass) std::this_thread::yield();
  // Too short for the pass: the thread goes on, and ends by itself after
  // it even with its owner gone.
  EXPECT_FALSE(worker->Wait(50));
  worker.reset();
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_EQ(passes.load(), 1);

  inPass = false;
  worker = platform::StartPeriodicThread(10000, [&] {
    inPass = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ++passes;
  });
  ASSERT_NE(worker, nullptr);
  while (!inPass) std::this_thread::yield();
  worker->RequestStop();
  EXPECT_TRUE(worker->Wait(3000));
  EXPECT_EQ(passes.load(), 2);
}

}  // namespace
