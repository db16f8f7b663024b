// The platform's writing of new files and starting of threads.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

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

TEST(StartThreadTest, RunsTheBodyOnTheNewThread) {
  std::thread thread;
  std::atomic<bool> ran{false};
  std::thread::id where;
  ASSERT_TRUE(platform::StartThread(&thread, [&] {
    where = std::this_thread::get_id();
    ran = true;
  }));
  ASSERT_TRUE(thread.joinable());
  thread.join();
  EXPECT_TRUE(ran);
  EXPECT_NE(where, std::this_thread::get_id());
}

}  // namespace
