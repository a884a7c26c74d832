#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "zarngen/support.h"

namespace {

struct Case {
  std::string input;
  std::string after;
  int result;
};

// Each routine rewrites its argument in place; these run it on a copy.
int run(int (*routine)(char*), const std::string& input, std::string& after) {
  std::string buffer = input;
  const int result = routine(buffer.data());
  after = buffer.c_str();
  return result;
}

TEST(CleanEol, DropsCommentsAndTrailingWhiteSpace) {
  const Case cases[] = {
      {"# comment", "", 0},
      {"abc  ", "abc", 1},
      {"abc // x", "abc", 1},
      {"abc//x", "abc", 1},
      {"a/b", "a/b", 1},
      {"x\t\r\n", "x", 1},
      {"abc#def", "abc#def", 1},
      {"//only", "", 0},
      {"   ", "", 0},
      {"", "", 0},
      {" # not first", " # not first", 1},
      {"a/b//c//d", "a/b", 1},
      {"a /  / b", "a /  / b", 1},
      {"x\v\f", "x", 1},
      {"\xe9t\xe9\xa0", "\xe9t\xe9\xa0", 1},  // high bytes are never white space
      {"\x85", "\x85", 1},
  };
  for (const auto& c : cases) {
    std::string after;
    EXPECT_EQ(run(clean_eol, c.input, after), c.result) << c.input;
    EXPECT_EQ(after, c.after) << c.input;
  }
}

TEST(StripNonAlnum, BlanksEverythingButWordCharacters) {
  const Case cases[] = {
      {"# c", "", 0},
      {"a-b_c.d/e\n", "a b c.d/e\n", 1},
      {"a#b", "a b", 1},
      {"", "", 1},
      {"\tx\r\n", " x \n", 1},
      {"R1(n1,n2)=4.7k;", "R1 n1 n2  4.7k ", 1},
      {"caf\xc3\xa9", "caf  ", 1},  // high bytes are not alphanumeric
      {"AZaz09", "AZaz09", 1},
  };
  for (const auto& c : cases) {
    std::string after;
    EXPECT_EQ(run(strip_non_alnum, c.input, after), c.result) << c.input;
    EXPECT_EQ(after, c.after) << c.input;
  }
}

TEST(LineRoutines, ClassBytesAsTheCLocaleWhateverTheProcessLocale) {
  // Any installed locale with a different idea of bytes above 127 will do; without one
  // the classes are the same and the test still holds.
  for (const char* name : {"C.UTF-8", "en_US.ISO-8859-1", "de_DE.ISO-8859-1", ""}) {
    if (std::setlocale(LC_ALL, name) == nullptr) continue;
    std::string after;
    EXPECT_EQ(run(clean_eol, "x\xa0\x85", after), 1);
    EXPECT_EQ(after, "x\xa0\x85") << name;
    run(strip_non_alnum, "\xe9x\xc4", after);
    EXPECT_EQ(after, " x ") << name;
  }
  std::setlocale(LC_ALL, "C");
}

TEST(LineRoutines, TakeNull) {
  EXPECT_EQ(clean_eol(nullptr), 0);
  EXPECT_EQ(strip_non_alnum(nullptr), 0);
  char ext[8] = "stale";
  EXPECT_EQ(split_name(nullptr, ext), nullptr);
  EXPECT_STREQ(ext, "");
}

TEST(SplitName, SplitsAtTheLastDotAfterTheFirstCharacter) {
  const struct {
    std::string name, base, ext;
  } cases[] = {
      {"file.txt", "file", "txt"},
      {"a.b.c", "a.b", "c"},
      {".hidden", ".hidden", ""},
      {"x.", "x", ""},
      {"noext", "noext", ""},
      {"dir.d/file", "dir", "d/file"},
      {"", "", ""},
      {".", ".", ""},
      {"..", ".", ""},
      {".a.b", ".a", "b"},
      {"a", "a", ""},
  };
  for (const auto& c : cases) {
    std::string name = c.name;
    char ext[64] = "stale";
    EXPECT_EQ(split_name(name.data(), ext), name.data());
    EXPECT_STREQ(name.c_str(), c.base.c_str()) << c.name;
    EXPECT_STREQ(ext, c.ext.c_str()) << c.name;
  }
}

TEST(SplitName, TakesNamesOfAnyLength) {
  std::string name = std::string(5000, 'n') + "." + std::string(3000, 'e');
  std::string ext(3001, '?');
  split_name(name.data(), ext.data());
  EXPECT_EQ(std::string(name.c_str()), std::string(5000, 'n'));
  EXPECT_EQ(std::string(ext.c_str()), std::string(3000, 'e'));
}

}  // namespace
