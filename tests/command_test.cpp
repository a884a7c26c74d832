// The command run as a process, from a POSIX shell: exit status, standard error,
// standard output and the file left behind.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <set>
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
  // A caller's shell leaves these signals at their defaults, and a shell cannot restore
  // a signal that was ignored when it started (as SIGINT is in a script's background
  // job, and so in a test run started from one): so the test process resets them.
  void SetUp() override {
    ScratchDir::SetUp();
    for (const int signal_number : {SIGPIPE, SIGXFSZ, SIGINT, SIGTERM, SIGHUP}) {
      std::signal(signal_number, SIG_DFL);
    }
  }

  // Runs `script` under bash in the test's directory, where $GORVIC is the command;
  // returns the status of the script's last command.
  Outcome shell(const std::string& script) const {
    // exec: no shell between this process and the script, to report how it ended.
    const std::string command = "cd " + quote(dir_.string()) +
                                " && export GORVIC=" + quote(GORVIC_EXE) +
                                " SOURCE_DATE_EPOCH=" + kEpoch + " && exec bash -c " +
                                quote(script) + " >stdout.txt 2>stderr.txt";
    const int raw = std::system(command.c_str());
    // A signal that ended the script counts as a shell counts it: 128 and its number.
    Outcome o{WIFEXITED(raw)     ? WEXITSTATUS(raw)
              : WIFSIGNALED(raw) ? 128 + WTERMSIG(raw)
                                 : -1,
              read_file(dir_ / "stdout.txt"), read_file(dir_ / "stderr.txt")};
    fs::remove(dir_ / "stdout.txt");
    fs::remove(dir_ / "stderr.txt");
    return o;
  }

  // The names in the test's directory, hidden ones too.
  std::set<std::string> listing() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.insert(entry.path().filename());
    return names;
  }
};

// Sends `signal` to the command while it writes its new file, under a file-size limit in
// case the signal never comes: the script becomes the command, so $$ is the command's.
std::string interrupted_by(const std::string& signal) {
  return "ulimit -f 1000000; (while kill -0 $$ 2>/dev/null &&"
         " [ -z \"$(find . -name '.out.net.*' -size +100k)\" ]; do sleep 0.01; done;"
         " kill -" +
         signal + " $$) & exec \"$GORVIC\" out.net 2147483647 in";
}

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

TEST_F(Command, FailsWithADiagnosticAndLeavesTheTargetAsItWas) {
  const std::string close = kError + " Can't close output generator file <out.net>\n";
  const struct {
    std::string script;
    int status;
    std::string err;
  } cases[] = {
      {"exec -a gen \"$GORVIC\" out.net 3", 1,
       "\nZARN Generator Error: (gorvic[Version 2.0])\n Receiving 2 parameters\n"
       "     ->  argv[1] = 'out.net'\n     ->  argv[2] = '3'\n"
       " Usage:  gen output_file constant_number in_node\n\n"},
      {"\"$GORVIC\" out.net abc in", 1,
       kError + " <abc>, the number of delayed integrators, is not a positive integer\n"},
      {"\"$GORVIC\" out.net -3 in", 1,
       kError + " <-3>, the number of delayed integrators, is not a positive integer\n"},
      {"\"$GORVIC\" no/such/dir/out.net 3 in", 1,
       kError + " Can't open output file <\"no/such/dir/out.net\">\n"},
      {"\"$GORVIC\" . 3 in", 1, kError + " Can't open output file <\".\">\n"},
      {"\"$GORVIC\" /dev/full 3 in", 1,
       kError + " Can't close output generator file </dev/full>\n"},
      {"SOURCE_DATE_EPOCH=12x \"$GORVIC\" out.net 3 in", 1,
       kError + " SOURCE_DATE_EPOCH <12x> is not a decimal count of seconds\n"},
      {"ulimit -f 64; \"$GORVIC\" out.net 1000000 in", 1, close},
      {interrupted_by("INT"), 130, ""},
      {interrupted_by("TERM"), 143, ""},
  };
  for (const bool existing : {false, true}) {
    for (const auto& c : cases) {
      if (existing) std::ofstream(path("out.net")) << "precious\n";
      const Outcome o = shell(c.script);
      EXPECT_EQ(o.status, c.status) << c.script;
      EXPECT_EQ(o.out, "") << c.script;
      EXPECT_EQ(o.err, c.err) << c.script;
      if (existing) {
        EXPECT_EQ(read_file(path("out.net")), "precious\n") << c.script;
        EXPECT_EQ(listing(), std::set<std::string>{"out.net"}) << c.script;
      } else {
        EXPECT_EQ(listing(), std::set<std::string>{}) << c.script;
      }
    }
  }
}

TEST_F(Command, WritesThroughWhatThePathNames) {
  const std::string netlist = read_file(GORVIC_TEST_DATA "/chain-100.net");
  const std::string longest(255, 'n');
  const struct {
    std::string script;
    std::string out;
    std::string file;    // what holds the netlist afterwards
    std::string before;  // and what stands in it before the netlist
  } cases[] = {
      // A replaced file keeps its mode and loses its longer old text.
      {"yes old | head -c 20000 >old.net && chmod 0640 old.net && umask 077 &&"
       " gen old.net && stat -c %a old.net",
       "640\n", "old.net", ""},
      {"umask 027 && gen new.net && stat -c %a new.net", "640\n", "new.net", ""},
      {"echo old >real.net && ln -s real.net link.net && gen link.net && readlink link.net",
       "real.net\n", "real.net", ""},
      {"ln -s dangling.net dangling-link.net && gen dangling-link.net &&"
       " readlink dangling-link.net",
       "dangling.net\n", "dangling.net", ""},
      {"gen " + longest, "", longest, ""},
      {"mkfifo fifo && { cat fifo >from-fifo.net & gen fifo; wait; }", "", "from-fifo.net", ""},
      // Standard output as the shell set it up: appended to, not truncated.
      {"echo first >log.txt && gen /dev/stdout >>log.txt", "", "log.txt", "first\n"},
      {"echo first >log2.txt && gen /dev/fd/3 3>>log2.txt", "", "log2.txt", "first\n"},
  };
  for (const auto& c : cases) {
    const Outcome o = shell("gen() { (exec -a gen \"$GORVIC\" \"$1\" 100 in); }; " + c.script);
    EXPECT_EQ(o.status, 0) << c.script << o.err;
    EXPECT_EQ(o.out, c.out) << c.script;
    EXPECT_EQ(read_file(dir_ / c.file), c.before + netlist) << c.script;
    for (const std::string& name : listing()) EXPECT_NE(name[0], '.') << c.script;
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

TEST_F(Command, WritesInPlaceOnlyInADirectoryWithoutWritePermission) {
  fs::create_directories(path("locked"));
  std::ofstream(path("locked/old.net")) << std::string(20000, 'x');
  fs::permissions(path("locked/old.net"), fs::perms::all & ~fs::perms::owner_exec &
                                              ~fs::perms::group_exec & ~fs::perms::others_exec);
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
  const Outcome refused = shell(as_user + "\"$GORVIC\" locked/out.net 3 in");
  // A writable file there is written in place, as nothing new can stand beside it.
  const Outcome in_place = shell(as_user + "\"$GORVIC\" locked/old.net 100 in");
  fs::permissions(path("locked"), fs::perms::owner_all);
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, kError + " Can't open output file <\"locked/out.net\">\n");
  EXPECT_FALSE(fs::exists(path("locked/out.net")));
  EXPECT_EQ(in_place.status, 0) << in_place.err;
  EXPECT_EQ(shell("\"$GORVIC\" fresh.net 100 in").status, 0);
  EXPECT_EQ(read_file(path("locked/old.net")), read_file(path("fresh.net")));
}

}  // namespace
