// The command run as a process, from a POSIX shell: exit status, standard error,
// standard output and the file left behind.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>

#include "test_support.hpp"

namespace {

using namespace gorvic::test;

std::string quote(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

class Command : public ScratchDir {
 protected:
  // A caller's shell leaves SIGPIPE and SIGXFSZ at their defaults, and a shell cannot
  // restore a signal that was ignored when it started: so the test process resets them.
  void SetUp() override {
    ScratchDir::SetUp();
    std::signal(SIGPIPE, SIG_DFL);
    std::signal(SIGXFSZ, SIG_DFL);
  }

  // Runs `script` under bash in the test's directory, where $GORVIC is the command;
  // returns the status of the script's last command.
  Outcome shell(const std::string& script) const {
    const std::string command = "cd " + quote(dir_.string()) + " && GORVIC=" + quote(GORVIC_EXE) +
                                " SOURCE_DATE_EPOCH=" + kEpoch + " bash -c " + quote(script) +
                                " >stdout.txt 2>stderr.txt";
    const int raw = std::system(command.c_str());
    Outcome o{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_file(dir_ / "stdout.txt"),
              read_file(dir_ / "stderr.txt")};
    fs::remove(dir_ / "stdout.txt");
    fs::remove(dir_ / "stderr.txt");
    return o;
  }
};

TEST_F(Command, WritesTheNetlistAndPrintsNothing) {
  const Outcome o = shell("exec -a gen \"$GORVIC\" chain.net 100 anything");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(read_file(path("chain.net")), read_file(GORVIC_TEST_DATA "/chain-100.net"));
}

TEST_F(Command, CopiesAnyCommandNameVerbatim) {
  const std::string name = "my gen %s %n 100% \xc3\xa9\xff";
  const Outcome o = shell("exec -a " + quote(name) + " \"$GORVIC\" chain.net 1 in");
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(read_file(path("chain.net")).find("\n# By Command " + name + "\n\n"),
            std::string::npos);

  const Outcome wrong = shell("exec -a " + quote(name) + " \"$GORVIC\"");
  EXPECT_EQ(wrong.status, 1);
  EXPECT_EQ(wrong.err,
            "\nZARN Generator Error: (gorvic[Version 2.0])\n Receiving 0 parameter\n"
            " Usage:  " +
                name + " output_file constant_number in_node\n\n");
}

TEST_F(Command, FailsWithADiagnosticAndNoOutput) {
  const struct {
    std::string script;
    std::string err;
  } cases[] = {
      {"exec -a gen \"$GORVIC\" out.net 3",
       "\nZARN Generator Error: (gorvic[Version 2.0])\n Receiving 2 parameters\n"
       "     ->  argv[1] = 'out.net'\n     ->  argv[2] = '3'\n"
       " Usage:  gen output_file constant_number in_node\n\n"},
      {"\"$GORVIC\" out.net abc in",
       kError + " <abc>, the number of delayed integrators, is not a positive integer\n"},
      {"\"$GORVIC\" out.net -3 in",
       kError + " <-3>, the number of delayed integrators, is not a positive integer\n"},
      {"\"$GORVIC\" no/such/dir/out.net 3 in",
       kError + " Can't open output file <\"no/such/dir/out.net\">\n"},
      {"mkdir -p adir && \"$GORVIC\" adir 3 in", kError + " Can't open output file <\"adir\">\n"},
      {"\"$GORVIC\" /dev/full 3 in", kError + " Can't close output generator file </dev/full>\n"},
      {"SOURCE_DATE_EPOCH=12x \"$GORVIC\" out.net 3 in",
       kError + " SOURCE_DATE_EPOCH <12x> is not a decimal count of seconds\n"},
  };
  for (const auto& c : cases) {
    const Outcome o = shell(c.script);
    EXPECT_EQ(o.status, 1) << c.script;
    EXPECT_EQ(o.out, "") << c.script;
    EXPECT_EQ(o.err, c.err) << c.script;
    EXPECT_FALSE(fs::exists(path("out.net"))) << c.script;
  }
}

TEST_F(Command, LeavesAnExistingFileAloneOnABadNumber) {
  for (const char* number : {"0", "08", "-0x5", "''", "x"}) {
    std::ofstream(path("keep.net")) << "precious\n";
    const Outcome o = shell(std::string("\"$GORVIC\" keep.net ") + number + " in");
    EXPECT_EQ(o.status, 1) << number;
    EXPECT_EQ(read_file(path("keep.net")), "precious\n") << number;
  }
}

TEST_F(Command, ReportsAFileSizeLimitHitInTheMiddle) {
  const Outcome o = shell("ulimit -f 64; \"$GORVIC\" big.net 1000000 in");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, kError + " Can't close output generator file <big.net>\n");
  EXPECT_EQ(fs::file_size(path("big.net")), 64u * 1024u);
}

TEST_F(Command, StopsPromptlyWhenThePipeReaderHasGone) {
  // Without the stop at the first failed write this would write 100 GB into the pipe.
  const Outcome o = shell(
      "\"$GORVIC\" /dev/stdout 2147483647 in | head -c 100 >/dev/null;"
      " exit ${PIPESTATUS[0]}");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, kError + " Can't close output generator file </dev/stdout>\n");
}

// Linux caps one argument at 128 KiB (MAX_ARG_STRLEN, terminator included): the
// largest argument that can reach the command at all.
constexpr std::size_t kHuge = (1u << 17) - 1;

TEST_F(Command, TakesAHugeArgumentInEveryPosition) {
  const std::string huge = "$(head -c " + std::to_string(kHuge) + " /dev/zero | tr '\\0' a)";
  const Outcome name = shell("\"$GORVIC\" \"" + huge + "\" 3 in");
  EXPECT_EQ(name.status, 1);
  EXPECT_EQ(name.err, kError + " Can't open output file <\"" + std::string(kHuge, 'a') + "\">\n");
  const Outcome number = shell("\"$GORVIC\" out.net \"" + huge + "\" in");
  EXPECT_EQ(number.status, 1);
  EXPECT_EQ(number.err, kError + " <" + std::string(kHuge, 'a') +
                            ">, the number of delayed integrators, is not a positive integer\n");
  const Outcome node = shell("\"$GORVIC\" out.net 3 \"" + huge + "\"");
  EXPECT_EQ(node.status, 0) << node.err;
  const Outcome command = shell("exec -a \"" + huge + "\" \"$GORVIC\" out.net 3 in");
  EXPECT_EQ(command.status, 0) << command.err;
  EXPECT_NE(read_file(path("out.net")).find("# By Command " + std::string(kHuge, 'a') + "\n"),
            std::string::npos);
}

TEST_F(Command, ReportsADirectoryWithoutWritePermission) {
  fs::create_directories(path("locked"));
  fs::permissions(path("locked"), fs::perms::owner_read | fs::perms::owner_exec |
                                      fs::perms::group_read | fs::perms::group_exec |
                                      fs::perms::others_read | fs::perms::others_exec);
  // Root may write anywhere: run the command as an ordinary user instead, if it can.
  std::string as_user;
  if (geteuid() == 0) {
    as_user = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    if (shell(as_user + "test -x \"$GORVIC\"").status != 0) {
      GTEST_SKIP() << "running as root, and no ordinary user can run " << GORVIC_EXE;
    }
  }
  const Outcome o = shell(as_user + "\"$GORVIC\" locked/out.net 3 in");
  fs::permissions(path("locked"), fs::perms::owner_all);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, kError + " Can't open output file <\"locked/out.net\">\n");
  EXPECT_FALSE(fs::exists(path("locked/out.net")));
}

}  // namespace
