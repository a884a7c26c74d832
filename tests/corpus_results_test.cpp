// What each routine gives for every input of its fuzz corpus, against one recorded table
// that every target checks: byte order, the signedness of char and the width of long
// must not show in a result.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "zarngen/support.h"

namespace {

namespace fs = std::filesystem;

std::string read_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The string a C routine sees in `bytes`: everything before the first NUL.
std::string c_string(const std::string& bytes) {
  return bytes.substr(0, bytes.find('\0'));
}

// `text` in double quotes, every byte outside printable ASCII (and '"', '\') as \xNN.
std::string escaped(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7f && c != '"' && c != '\\') {
      out += c;
    } else {
      char escape[5];
      std::snprintf(escape, sizeof escape, "\\x%02x", byte);
      out += escape;
    }
  }
  return out + "\"";
}

// The corpus's bytes read as the little-endian machine that wrote them reads them, so
// that every target formats the same number.
template <typename T>
T little_endian(const std::string& bytes, std::size_t at) {
  using Bits = std::conditional_t<sizeof(T) == 8, std::uint64_t, std::uint32_t>;
  Bits bits = 0;
  for (std::size_t i = sizeof(T); i-- > 0;) {
    bits = static_cast<Bits>(bits << 8u) | static_cast<unsigned char>(bytes[at + i]);
  }
  return std::bit_cast<T>(bits);
}

int run(int (*routine)(char*), const std::string& input, std::string& after) {
  std::string buffer = input;
  const int result = routine(buffer.data());
  after = buffer.c_str();
  return result;
}

// The table's line for one input, as the fuzz target of `routine` feeds it.
std::string result_line(const std::string& routine, const std::string& bytes) {
  const std::string text = c_string(bytes);
  std::string result;
  if (routine == "clean_eol" || routine == "strip_non_alnum") {
    std::string after;
    const int status = run(routine == "clean_eol" ? clean_eol : strip_non_alnum, text, after);
    result = std::to_string(status) + " " + escaped(after);
  } else if (routine == "split_name") {
    std::string name = text;
    std::string ext(text.size() + 1, '\0');
    split_name(name.data(), ext.data());
    result = escaped(name.c_str()) + " " + escaped(ext.c_str());
  } else if (routine == "eng") {
    if (bytes.size() < sizeof(double)) return "";
    const auto precision = bytes.size() >= sizeof(double) + sizeof(std::int32_t)
                               ? little_endian<std::int32_t>(bytes, sizeof(double))
                               : 3;
    result = escaped(eng(little_endian<double>(bytes, 0), precision));
  } else if (routine == "simplify_pathname") {
    std::string path = text;
    path.resize(text.size() + 2, '\0');  // room for the "." of an empty path
    result = escaped(simplify_pathname(path.data()));
  } else {
    return "";
  }
  return result;
}

TEST(CorpusResults, AreTheRecordedOnes) {
  const fs::path corpus = GORVIC_FUZZ_CORPUS;
  std::string table;
  for (const char* routine :
       {"clean_eol", "strip_non_alnum", "split_name", "eng", "simplify_pathname"}) {
    std::vector<fs::path> inputs;
    for (const auto& entry : fs::directory_iterator(corpus / routine)) inputs.push_back(entry);
    ASSERT_FALSE(inputs.empty()) << routine;
    std::sort(inputs.begin(), inputs.end());
    for (const fs::path& input : inputs) {
      const std::string line = result_line(routine, read_bytes(input));
      if (!line.empty()) {
        table += std::string(routine) + " " + input.filename().string() + " " + line + "\n";
      }
    }
  }
  // The record's lines, its comments aside, against the computed ones.
  std::vector<std::string> expected;
  std::istringstream record(read_bytes(GORVIC_TEST_DATA "/corpus-results.txt"));
  for (std::string line; std::getline(record, line);) {
    if (!line.starts_with("#")) expected.push_back(line + "\n");
  }
  std::vector<std::string> computed;
  std::istringstream lines(table);
  for (std::string line; std::getline(lines, line);) computed.push_back(line + "\n");
  const auto [want, got] =
      std::mismatch(expected.begin(), expected.end(), computed.begin(), computed.end());
  EXPECT_TRUE(want == expected.end() && got == computed.end())
      << "tests/data/corpus-results.txt records\n  "
      << (want == expected.end() ? "nothing more\n" : *want) << "where this target computes\n  "
      << (got == computed.end() ? "nothing more\n" : *got)
      << "A new corpus input needs its line, and a result changed on purpose its new one. The "
         "whole table as computed here:\n"
      << table;
}

}  // namespace
