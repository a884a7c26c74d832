#include "gorvic/netlist.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "gorvic/sink.hpp"
#include "simple_writer.hpp"
#include "test_support.hpp"

namespace {

using gorvic::StringSink;
using gorvic::test::read_file;

constexpr const char* kTime = "Mon Dec 07 09:32:01 2026";

std::string netlist(std::int32_t n, const char* command = "gen") {
  StringSink sink;
  EXPECT_TRUE(gorvic::write_chain_netlist(sink, n, kTime, command));
  return sink.text();
}

const std::string kHeader =
    "cell_interface  $out  $dummy  $in\n"
    "\n"
    "# *****************************************************\n"
    "\n"
    "# CHAIN OF DELAYED INTEGRATORS (chameleonic)\n"
    "\n";
const std::string kTimeAndCommand =
    "# Creation Time        : Mon Dec 07 09:32:01 2026\n"
    "# By Command gen\n"
    "\n"
    "# Generator Version 2.0\n"
    "# From C source : 'C:\\Simulate\\ZarnDos\\Gen\\Source\\gorvic'\n"
    "\n"
    "# *****************************************************\n"
    "\n"
    "zarn_version  V4.50\n"
    "\n";
const std::string kTrailer =
    "\n"
    "# *****************************************************\n"
    "\n"
    "# *****************************************************\n";

TEST(ChainNetlist, OneIntegrator) {
  EXPECT_EQ(netlist(1), kHeader + "# Number of Delayed Integrators: 1\n" + kTimeAndCommand +
                            "#         _______         \n"
                            "#        |       |        \n"
                            "#   in---| Integ. >--- out\n"
                            "#        |_______|        \n"
                            "#         &delayed        \n"
                            "\n"
                            "node $out integrator $in  &delayed\n" +
                            kTrailer);
}

TEST(ChainNetlist, TwoIntegrators) {
  EXPECT_EQ(netlist(2), kHeader + "# Number of Delayed Integrators: 2\n" + kTimeAndCommand +
                            "#         _______        _______         \n"
                            "#        |       |  s01 |       |        \n"
                            "#   in---| Integ. >-----| Integ. >--- out\n"
                            "#        |_______|      |_______|        \n"
                            "#         &delayed      &delayed         \n"
                            "\n"
                            "node $s01 integrator $in  &delayed\n"
                            "node $out integrator $s01  &delayed\n" +
                            kTrailer);
}

TEST(ChainNetlist, ThreeIntegrators) {
  EXPECT_EQ(netlist(3), kHeader + "# Number of Delayed Integrators: 3\n" + kTimeAndCommand +
                            "#         _______                _______         \n"
                            "#        |       |  s01     s02 |       |        \n"
                            "#   in---| Integ. >---  ... ----| Integ. >--- out\n"
                            "#        |_______|              |_______|        \n"
                            "#         &delayed              &delayed         \n"
                            "\n"
                            "node $s01 integrator $in  &delayed\n"
                            "node $s02 integrator $s01  &delayed\n"
                            "node $out integrator $s02  &delayed\n" +
                            kTrailer);
}

TEST(ChainNetlist, MatchesTheRecordedFilesAroundTheThreeDigitIndex) {
  for (const int n : {100, 101}) {
    const std::string expected = read_file(GORVIC_TEST_DATA "/chain-" + std::to_string(n) + ".net");
    ASSERT_FALSE(expected.empty()) << n;
    EXPECT_EQ(netlist(n), expected) << n;
    StringSink crlf;
    ASSERT_TRUE(gorvic::write_chain_netlist(crlf, n, kTime, "gen", gorvic::LineEnd::kCrLf));
    EXPECT_EQ(crlf.text(), gorvic::test::crlf(expected)) << n;
  }
}

TEST(ChainNetlist, CopiesTheCommandVerbatim) {
  const char* command = "/opt/my tools/gorvic %s %d 100%";
  EXPECT_NE(netlist(1, command).find("\n# By Command /opt/my tools/gorvic %s %d 100%\n\n"),
            std::string::npos);
}

TEST(ChainNetlist, KeepsTheCommandOnItsCommentLine) {
  // A line break in the command would let the rest of it be read as a statement.
  const std::string text = netlist(3, "g\nnode $out bogus\r\n");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3 + 27);
  EXPECT_NE(text.find("\n# By Command g node $out bogus  \n\n"), std::string::npos);
}

TEST(ChainNetlist, HasNPlus27Lines) {
  for (const int n : {1, 2, 3, 9, 10, 11, 999, 1000, 1001, 1002, 4321}) {
    const std::string text = netlist(n);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), n + 27) << n;
  }
}

// FNV-1a over everything put, so huge outputs compare without being held.
class HashSink final : public gorvic::Sink {
 public:
  bool put(std::string_view text) override {
    for (const char c : text) hash_ = (hash_ ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
    size_ += text.size();
    return true;
  }
  std::uint64_t hash() const { return hash_; }
  std::uint64_t size() const { return size_; }

 private:
  std::uint64_t hash_ = 0xcbf29ce484222325u;
  std::uint64_t size_ = 0;
};

// The whole netlist for every N of the tables here, as recorded once: every target must
// write these bytes, whatever its byte order, word size or signedness of char.
TEST(ChainNetlist, IsTheRecordedTextOnEveryTarget) {
  const struct {
    std::int32_t n;
    std::uint64_t size;
    std::uint64_t hash;
  } recorded[] = {
      {1, 687, 0x428010f39f186ceau},          {2, 798, 0xc4cb506a6353c362u},
      {3, 874, 0x4b4ba31174304387u},          {9, 1090, 0xa6ebcd4d929d8677u},
      {10, 1127, 0x0e3d25959032d8f3u},        {11, 1163, 0x3c79d7cc7ee1fa25u},
      {99, 4331, 0x1a072a2afc834375u},        {100, 4368, 0x8491252c24bcf046u},
      {101, 4407, 0x8db0657be9e3c365u},       {999, 38531, 0xd76e05c46ff56813u},
      {1000, 38570, 0x2a7396dcbeb911c7u},     {1001, 38611, 0x58d9ff34a0c56823u},
      {1002, 38651, 0x2b850e34ebf7aa30u},     {1003, 38691, 0x6bcb4e79e1e73a9fu},
      {1999, 78531, 0x5dd928ccb9ced8b7u},     {2000, 78571, 0x01bf89b978260c77u},
      {2001, 78611, 0x429eb7f5f78a2021u},     {2002, 78651, 0x87c97d5663543456u},
      {2003, 78691, 0xeed38e8d46e6f1edu},     {4321, 171411, 0xee87dc6c4eb8bcf7u},
      {9999, 398531, 0x5a6dd6f88b3aa8f7u},    {10000, 398572, 0x78636666f508ed2au},
      {10001, 398615, 0xab8015c8e68690dbu},   {10002, 398657, 0xa6b93be5f29255cau},
      {12345, 497063, 0x3aa10509741e5e43u},   {99999, 4178531, 0x135c1fc90615bea5u},
      {100000, 4178574, 0x2f003ae6f98a634bu}, {100001, 4178619, 0x81c2316b5b6c7165u},
      {100002, 4178663, 0x88609e3aa16a6ceeu}, {1002345, 43886447, 0x2c6f834dd17b7ec1u},
  };
  for (const auto& r : recorded) {
    HashSink sink;
    ASSERT_TRUE(gorvic::write_chain_netlist(sink, r.n, kTime, "gen"));
    EXPECT_EQ(sink.size(), r.size) << r.n;
    EXPECT_EQ(sink.hash(), r.hash) << r.n;
  }
}

constexpr gorvic::LineEnd kLineEnds[] = {gorvic::LineEnd::kLf, gorvic::LineEnd::kCrLf};

TEST(NodeStatements, BlockWriterMatchesOneWritePerStatement) {
  for (const auto end : kLineEnds) {
    for (const int n : {1,     2,     3,     9,     10,    11,     99,     100,    101,    999,
                        1000,  1001,  1002,  1003,  1999,  2000,   2001,   2002,   2003,   9999,
                        10000, 10001, 10002, 12345, 99999, 100000, 100001, 100002, 1002345}) {
      HashSink fast;
      HashSink simple;
      ASSERT_TRUE(gorvic::write_node_statements(fast, n, end));
      gorvic::test::write_node_statements_simple(simple, n, end);
      ASSERT_EQ(fast.size(), simple.size()) << n;
      ASSERT_EQ(fast.hash(), simple.hash()) << n;
    }
  }
}

// The widest indices cannot be reached through a whole chain in a test, so the middle of
// the chain is written from a chosen start and compared line by line.
TEST(NodeStatements, LinksKeepTheirTextAcrossEveryDigitCountUpToTheLargestN) {
  const struct {
    std::int64_t first, last;
  } ranges[] = {
      {2, 123'456},                    // every digit count up to 6, blocks stepped between
      {80'001, 100'000},               // a block that gains a digit at its last line
      {999'989'999, 1'000'050'000},    // to 10 digits
      {1'999'970'000, 2'000'030'000},  // a carry through six digits inside a step
      {2'147'400'000, 2'147'483'646},  // up to the largest N
      {9'999'950'000, 9'999'999'999},  // the widest index the writer takes
  };
  for (const auto end : kLineEnds) {
    for (const auto& r : ranges) {
      StringSink sink;
      ASSERT_TRUE(gorvic::write_chain_links(sink, r.first, r.last, end));
      std::string expected;
      char line[64];
      for (std::int64_t k = r.first; k <= r.last; ++k) {
        expected.append(line, gorvic::test::format_link(line, k, end));
      }
      // Shows the first line that differs rather than megabytes of text.
      const std::string& text = sink.text();
      const auto at = std::mismatch(text.begin(), text.end(), expected.begin(), expected.end());
      const auto line_end =
          expected.rfind('\n', static_cast<std::size_t>(at.second - expected.begin()));
      const std::size_t from = line_end == std::string::npos ? 0 : line_end + 1;
      EXPECT_TRUE(at.first == text.end() && at.second == expected.end())
          << r.first << ".." << r.last << ": '" << text.substr(from, 40) << "' where '"
          << expected.substr(from, 40) << "' was expected";
    }
  }
}

// Refuses every put after the first `accepted` ones.
class FailingSink final : public gorvic::Sink {
 public:
  explicit FailingSink(int accepted) : accepted_(accepted) {}
  bool put(std::string_view) override { return ++calls_ <= accepted_; }
  int calls() const { return calls_; }

 private:
  int accepted_;
  int calls_ = 0;
};

TEST(ChainNetlist, StopsAtTheFirstRefusedWrite) {
  for (int accepted = 0; accepted < 6; ++accepted) {
    FailingSink sink(accepted);
    EXPECT_FALSE(gorvic::write_chain_netlist(sink, 50000, kTime, "gen")) << accepted;
    EXPECT_EQ(sink.calls(), accepted + 1);
  }
}

}  // namespace
