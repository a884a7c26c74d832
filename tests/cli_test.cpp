#include "gorvic/cli.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "gorvic/output_file.hpp"
#include "test_support.hpp"

namespace {

using namespace gorvic::test;

// Runs the generator with standard error captured.
Outcome run_raw(int argc, const char* const* argv, const char* epoch) {
  std::FILE* err = std::tmpfile();
  EXPECT_NE(err, nullptr);
  const int status = gorvic::run(argc, argv, err, epoch);
  std::rewind(err);
  std::string text;
  for (int c; (c = std::fgetc(err)) != EOF;) text += static_cast<char>(c);
  std::fclose(err);
  return {status, {}, text};
}

Outcome run(std::vector<const char*> args, const char* epoch = kEpoch) {
  return run_raw(static_cast<int>(args.size()), args.data(), epoch);
}

// In text mode: the Windows command tests check the CR LF line ends themselves.
std::string read_text(const std::string& path) {
  return read_file(path, std::ios::in);
}

using Cli = ScratchDir;

TEST_F(Cli, WritesTheNetlistAndSaysNothing) {
  const std::string out = path("chain.net");
  const Outcome o = run({"gen", out.c_str(), "0x10", ""});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err, "");
  const std::string text = read_text(out);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 16 + 27);
  EXPECT_NE(text.find("# Number of Delayed Integrators: 16\n"
                      "# Creation Time        : Mon Dec 07 09:32:01 2026\n"
                      "# By Command gen\n\n"),
            std::string::npos);
}

TEST_F(Cli, ReportsTheWrongArgumentCount) {
  const std::string report_head = "\nZARN Generator Error: (gorvic[Version 2.0])\n";
  const std::string usage = " Usage:  gen output_file constant_number in_node\n\n";
  const struct {
    std::vector<const char*> args;
    std::string expected;
  } cases[] = {
      {{"gen"}, report_head + " Receiving 0 parameter\n" + usage},
      {{"gen", "a"}, report_head + " Receiving 1 parameter\n     ->  argv[1] = 'a'\n" + usage},
      {{"gen", "out.net", "3"},
       report_head + " Receiving 2 parameters\n     ->  argv[1] = 'out.net'\n" +
           "     ->  argv[2] = '3'\n" + usage},
      {{"gen", "a", "b", "c", "d"},
       report_head + " Receiving 4 parameters\n     ->  argv[1] = 'a'\n     ->  argv[2] = 'b'\n" +
           "     ->  argv[3] = 'c'\n     ->  argv[4] = 'd'\n" + usage},
      {{"%s %n"},
       report_head + " Receiving 0 parameter\n" +
           " Usage:  %s %n output_file constant_number in_node\n\n"},
  };
  for (const auto& c : cases) {
    const Outcome o = run(c.args);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, c.expected);
  }
}

TEST_F(Cli, ReportsTheWrongCountWithTheOwnNameWhenThereIsNoArgumentVector) {
  const char* const empty[] = {nullptr};
  for (const char* const* argv : {static_cast<const char* const*>(nullptr), empty}) {
    const Outcome o = run_raw(0, argv, nullptr);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err,
              "\nZARN Generator Error: (gorvic[Version 2.0])\n Receiving 0 parameter\n"
              " Usage:  gorvic output_file constant_number in_node\n\n");
  }
}

TEST_F(Cli, RefusesABadNumberWithoutTouchingTheFile) {
  const std::string out = path("keep.net");
  const struct {
    const char* number;
    std::string message;
  } cases[] = {
      {"abc", " <abc>, the number of delayed integrators, is not a positive integer\n"},
      {"", " <>, the number of delayed integrators, is not a positive integer\n"},
      {"   ", " <   >, the number of delayed integrators, is not a positive integer\n"},
      {"08", " <0>, the number of delayed integrators, is not a positive integer\n"},
      {"-3", " <-3>, the number of delayed integrators, is not a positive integer\n"},
      {"0x0", " <0>, the number of delayed integrators, is not a positive integer\n"},
      {"-0x5", " <-5>, the number of delayed integrators, is not a positive integer\n"},
      {"-99999999999",
       " <-2147483648>, the number of delayed integrators, is not a positive integer\n"},
  };
  for (const auto& c : cases) {
    { std::ofstream(out) << "precious"; }
    const Outcome o = run({"gen", out.c_str(), c.number, "in"});
    EXPECT_EQ(o.status, 1) << c.number;
    EXPECT_EQ(o.err, kError + c.message);
    EXPECT_EQ(read_text(out), "precious");
  }
  const std::string absent = path("absent.net");
  EXPECT_EQ(run({"gen", absent.c_str(), "0", "in"}).status, 1);
  EXPECT_FALSE(fs::exists(absent));
}

TEST_F(Cli, ReportsAnOutputFileThatCannotBeOpened) {
  const std::string out = path("no/such/dir/chain.net");
  const Outcome o = run({"gen", out.c_str(), "3", "in"});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, kError + " Can't open output file <\"" + out + "\">\n");
}

TEST_F(Cli, UsesTheWholeOutputPath) {
#ifdef _WIN32
  GTEST_SKIP() << "the Windows file API stops at 260 characters (MAX_PATH)";
#endif
  // Longer than any fixed path buffer would hold, and not cut: a cut path could name
  // another file.
  fs::path dir = dir_;
  for (int i = 0; i < 6; ++i) dir /= std::string(100, static_cast<char>('a' + i));
  fs::create_directories(dir);
  const std::string out = (dir / "chain.net").string();
  const Outcome o = run({"gen", out.c_str(), "2", "in"});
  EXPECT_EQ(o.status, 0) << o.err;
  const std::string text = read_text(out);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2 + 27);
}

TEST_F(Cli, TakesAMegabyteArgumentInEveryPosition) {
  const std::string huge(1 << 20, 'x');
  const std::string blanks_then_five = std::string(1 << 20, ' ') + "5";
  const std::string out = path("chain.net");

  const Outcome count = run({"gen", out.c_str(), blanks_then_five.c_str(), "in"});
  EXPECT_EQ(count.status, 0) << count.err;
  const Outcome no_count = run({"gen", out.c_str(), huge.c_str(), "in"});
  EXPECT_EQ(no_count.err, kError + " <" + huge +
                              ">, the number of delayed integrators, is not a positive integer\n");
  const Outcome name = run({"gen", huge.c_str(), "3", "in"});
  EXPECT_EQ(name.err, kError + " Can't open output file <\"" + huge + "\">\n");
  const Outcome node_and_command = run({huge.c_str(), out.c_str(), "3", huge.c_str()});
  EXPECT_EQ(node_and_command.status, 0) << node_and_command.err;
  EXPECT_NE(read_text(out).find("\n# By Command " + huge + "\n\n"), std::string::npos);
}

TEST_F(Cli, RefusesAMalformedSourceDateEpochBeforeAnythingElse) {
  const std::string out = path("chain.net");
  const Outcome o = run({"gen", out.c_str(), "3", "in"}, "tomorrow");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, kError + " SOURCE_DATE_EPOCH <tomorrow> is not a decimal count of seconds\n");
  EXPECT_FALSE(fs::exists(out));
}

TEST_F(Cli, GivesIdenticalFilesForTheSameSourceDateEpoch) {
  const std::string first = path("first.net");
  const std::string second = path("second.net");
  ASSERT_EQ(run({"gen", first.c_str(), "50", "x"}).status, 0);
  ASSERT_EQ(run({"gen", second.c_str(), "50", "y"}).status, 0);
  EXPECT_EQ(read_text(first), read_text(second));
}

// The new file's name is hidden, within the name limit however long the target's name
// already is, and ends in six letters or digits made from the random bytes.
TEST(HiddenName, StaysWithinTheNameLimit) {
  const std::string_view random("\x00\x01\x23\x24\xff\x0a", 6);
  EXPECT_EQ(gorvic::hidden_name("chain.net", random, 255), ".chain.net.01z03a");
  EXPECT_EQ(gorvic::hidden_name(std::string(20, 'n'), random, 20), ".nnnnnnnnnnnn.01z03a");
}

}  // namespace
