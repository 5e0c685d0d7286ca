// The bvsim program: typed commands, and the executable itself started in the background
// with standard input at its end, as a demo script starts it.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "SimFixture.h"
#include "console.h"

using namespace bvsim::test;

TEST_F(SimTest, TypedCommandsDriveTheValidatorAndBadInputGetsOneErrorLine) {
  Boot();
  bvsim::Console console(*sim);
  auto run = [&console](const std::string& line) { return console.Run(line); };

  for (const char* bad : {"insert 24", "insert", "frobnicate", "jam sideways", "cassette maybe",
                          "fault late ms=abc", "fault nonsense", "script poll zz", "wait status"}) {
    const auto r = run(bad);
    EXPECT_FALSE(r.ok) << bad;
    ASSERT_EQ(r.lines.size(), 1u) << bad;
    EXPECT_EQ(r.lines[0].rfind("error: ", 0), 0u) << bad;
  }
  EXPECT_TRUE(run("# a comment").lines.empty());
  EXPECT_TRUE(run("quit").quit);

  EXPECT_TRUE(run("script poll 80 02").ok);
  EXPECT_EQ(Poll(), (Bytes{0x80, 0x02}));
  EXPECT_TRUE(run("Power Cycle 11").ok);
  EXPECT_EQ(Poll(), Bytes{0x11});
  EXPECT_TRUE(run("jam stacker").ok);
  EXPECT_EQ(Poll(), Bytes{0x11});  // power-up first
  EXPECT_EQ(Ask(bvsim::kReset), Bytes{0x00});
  EXPECT_EQ(Poll(), Bytes{0x44});  // then the jam
  EXPECT_TRUE(run("jam stacker off").ok);
  BringToIdle({0xFF, 0xFF, 0xFF}, {0, 0, 0});
  EXPECT_TRUE(run("cassette out").ok);
  EXPECT_EQ(Poll(), Bytes{0x42});
  EXPECT_TRUE(run("cassette in").ok);
  EXPECT_TRUE(run("failure 5f").ok);
  EXPECT_EQ(Poll(), (Bytes{0x47, 0x5F}));
  EXPECT_TRUE(run("failure off").ok);
  EXPECT_TRUE(run("reject magnetic").ok);
  EXPECT_TRUE(run("insert 7").ok);
  EXPECT_EQ(sim->PendingBills(), 1u);  // initialising: the bill waits
  EXPECT_TRUE(run("fault invalid cmd=getstatus count=2").ok);
  EXPECT_EQ(Ask(bvsim::kGetStatus), Bytes{0x30});
  EXPECT_EQ(Ask(bvsim::kGetStatus), Bytes{0x30});
  EXPECT_EQ(Ask(bvsim::kGetStatus).size(), 6u);
  EXPECT_TRUE(run("silent on").ok);
  ASSERT_TRUE(client->Write(bvsim::MakeRequest(3, bvsim::kPoll)));
  EXPECT_FALSE(client->ReadFrame(200ms));
  EXPECT_TRUE(run("silent off").ok);
  const auto status = run("status");
  ASSERT_EQ(status.lines.size(), 3u);
  EXPECT_NE(status.lines[1].find("1 waiting at the bezel"), std::string::npos);
  EXPECT_TRUE(run("wait command getstatus 1000").ok);
  EXPECT_FALSE(run("wait command crc32 100").ok);
}

namespace {

// Reads lines from the program's output until one contains `text` or 5 s have passed.
bool ReadUntil(FILE* out, const std::string& text, std::string& seen) {
  const int fd = fileno(out);
  const auto end = std::chrono::steady_clock::now() + 5s;
  char buf[4096];
  while (seen.find(text) == std::string::npos && std::chrono::steady_clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    seen.append(buf, size_t(n));
  }
  return seen.find(text) != std::string::npos;
}

}  // namespace

TEST(BvsimProgram, ServesInTheBackgroundTracesFramesAndCleansUpOnSigterm) {
  const std::string link =
      (std::filesystem::temp_directory_path() / ("bvsim-test-" + std::to_string(::getpid())))
          .string();
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const std::string exe = BVSIM_EXE;
  std::vector<std::string> args = {exe,     "--link",   link,        "--family",
                                   "qa",    "--serial", "SN-PROG-7", "--part-number",
                                   "ZBV-9", "--asset",  "0x010203"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(::posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  FILE* output = ::fdopen(out[0], "r");
  std::string seen;
  ASSERT_TRUE(ReadUntil(output, "validator on /dev/", seen)) << seen;
  std::this_thread::sleep_for(100ms);  // stdin has reached its end by now

  {
    zelnet::test::PtyPeer client(link);
    ASSERT_TRUE(client.Ok());
    auto answer = client.Exchange(bvsim::MakeRequest(0x01, bvsim::kPoll));
    ASSERT_TRUE(answer);
    EXPECT_EQ(*answer, bvsim::MakeAnswer(0x01, {0x10}));
    // The identification given on the command line, zero-padded in its fields.
    auto id = client.Exchange(bvsim::MakeRequest(0x01, bvsim::kIdentification));
    ASSERT_TRUE(id);
    const Bytes data = DataOf(*id);
    ASSERT_EQ(data.size(), 34u);
    EXPECT_EQ(std::string(data.begin(), data.begin() + 5), "ZBV-9");
    EXPECT_EQ(data[5], 0);
    EXPECT_EQ(std::string(data.begin() + 15, data.begin() + 24), "SN-PROG-7");
    EXPECT_EQ(Bytes(data.begin() + 24, data.begin() + 27), Bytes(3, 0));
    EXPECT_EQ(Bytes(data.begin() + 27, data.end()), (Bytes{0, 0, 0, 0, 1, 2, 3}));
    ASSERT_TRUE(client.Write(bvsim::MakeRequest(0x03, bvsim::kPoll)));  // not its family
    EXPECT_FALSE(client.ReadFrame(200ms));
  }
  EXPECT_TRUE(ReadUntil(output, "<- 02 01 06 33 62 34  Poll", seen)) << seen;
  EXPECT_TRUE(ReadUntil(output, "-> 02 01 06 10", seen)) << seen;

  ::kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  struct stat st {};
  EXPECT_NE(::lstat(link.c_str(), &st), 0);  // the link is gone
  std::fclose(output);
}
