// What the generator's test suites share: the fixed creation time, the error line, file
// reading and a scratch directory per test.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ios>
#include <random>
#include <sstream>
#include <string>

namespace gorvic::test {

namespace fs = std::filesystem;

// SOURCE_DATE_EPOCH for Mon Dec 07 09:32:01 2026 UTC, the time in the recorded netlists.
inline constexpr const char* kEpoch = "1796635921";
inline const std::string kError = "\nZARN Generator Error: (gorvic)\n";

// How a run of the generator ended: its status, standard output and standard error.
struct Outcome {
  int status;
  std::string out;
  std::string err;
};

// The bytes of a file; in text mode, Windows line ends read as '\n'.
inline std::string read_file(const fs::path& path, std::ios::openmode mode = std::ios::binary) {
  std::ifstream in(path, std::ios::in | mode);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// `text` with every '\n' written as CR LF, as Windows ends lines.
inline std::string crlf(const std::string& text) {
  std::string out;
  for (const char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

// A fresh, empty directory for each test, removed after it. The name is the test's and a
// random part, so that two runs of the same test at once (two builds' suites side by side)
// never share, and remove, each other's files.
class ScratchDir : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::random_device random;
    do {
      dir_ = fs::temp_directory_path() / ("gorvic-" + name + "-" + std::to_string(random()));
    } while (!fs::create_directory(dir_));
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const char* name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

}  // namespace gorvic::test
