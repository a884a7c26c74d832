#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "zarngen/support.h"

namespace {

// Simplifies a copy of `path`; also checks that the caller's buffer holds the same text.
std::string simplify(const std::string& path) {
  std::string buffer = path;
  buffer.resize(path.size() + 2, '\0');  // room for the "." of an empty path
  const char* result = simplify_pathname(buffer.data());
  EXPECT_NE(result, nullptr);
  EXPECT_STREQ(result, buffer.c_str()) << path;
  return result;
}

struct Case {
  const char* path;
  const char* result;
};

void check(const Case& c) {
  const std::string once = simplify(c.path);
  EXPECT_EQ(once, c.result) << "'" << c.path << "'";
  // Cleaning the result changes nothing, and never makes the path longer.
  EXPECT_EQ(simplify(once), once) << "'" << c.path << "'";
  if (*c.path != '\0') {
    EXPECT_LE(once.size(), std::strlen(c.path)) << c.path;
  }
}

TEST(SimplifyPathname, ReducesSlashesAndDots) {
  const Case cases[] = {
      {"", "."},        {".", "."},       {"/", "/"},           {"//", "/"},
      {"/.", "/"},      {"a/", "a"},      {"a//b", "a/b"},      {"./a", "a"},
      {"a/.", "a"},     {"a/./b", "a/b"}, {"//a//b//", "/a/b"}, {"/./a", "/a"},
      {"..a", "..a"},   {"...", "..."},   {".../x", ".../x"},   {".a/b", ".a/b"},
      {"a\\b", "a\\b"}, {"./", "."},      {"abc", "abc"},       {"a/b/c/", "a/b/c"},
  };
  for (const auto& c : cases) check(c);
}

TEST(SimplifyPathname, CancelsDotDotAgainstThePreviousComponent) {
  const Case cases[] = {
      {"a/..", "."},           {"a/../b", "b"},
      {"a/b/../c", "a/c"},     {"a/b/../../c", "c"},
      {"a/b/c/../../..", "."}, {"x/./../y", "y"},
      {"/a/b/../c/", "/a/c"},  {"/a/./b/../../c/d", "/c/d"},
      {"a\\b/../c", "c"},  // a backslash is no separator
      {"abc/def/../..", "."},  {"/abc/..", "/"},
  };
  for (const auto& c : cases) check(c);
}

TEST(SimplifyPathname, DropsDotDotAtTheRootOnly) {
  const Case cases[] = {
      {"/..", "/"},
      {"/../a", "/a"},
      {"/a/../..", "/"},
      {"..", ".."},
      {"../a", "../a"},
      {"a/../../b", "../b"},
      {"../../x/..", "../.."},
      {"../..", "../.."},
      {"./../a/./..", ".."},
      {"../a/../b", "../b"},
      {"a/b/../../../..", "../.."},
  };
  for (const auto& c : cases) check(c);
}

TEST(SimplifyPathname, TakesNull) {
  EXPECT_EQ(simplify_pathname(nullptr), nullptr);
}

TEST(SimplifyPathname, ReturnsALongResultInTheCallersBuffer) {
  std::string path = "/" + std::string(600, 'x') + "/./y";
  char* result = simplify_pathname(path.data());
  EXPECT_EQ(result, path.data());
  EXPECT_EQ(std::string(result), "/" + std::string(600, 'x') + "/y");

  std::string fits = std::string(510, 'x') + "/y/";
  EXPECT_NE(simplify_pathname(fits.data()), fits.data());
  EXPECT_EQ(std::string(simplify_pathname(fits.data())), std::string(510, 'x') + "/y");

  std::string one_more = std::string(511, 'x') + "/y/";
  EXPECT_EQ(simplify_pathname(one_more.data()), one_more.data());
  EXPECT_EQ(one_more.c_str(), std::string(511, 'x') + "/y");
}

TEST(SimplifyPathname, IsAFixedPointOnRandomPaths) {
  std::mt19937 random(7);
  const char* pieces[] = {"/", "//", ".", "..", "a", "b", "...", ".x"};
  for (int i = 0; i < 5000; ++i) {
    std::string path;
    const int count = static_cast<int>(random() % 10);
    for (int j = 0; j < count; ++j) {
      path += pieces[random() % 8];
      if (random() % 2) path += '/';
    }
    const std::string once = simplify(path);
    EXPECT_EQ(simplify(once), once) << path;
    if (!path.empty()) {
      EXPECT_LE(once.size(), path.size()) << path;
    }
    EXPECT_EQ(once.find("//"), std::string::npos) << path;
    EXPECT_EQ(once.front() == '/', !path.empty() && path.front() == '/') << path;
  }
}

}  // namespace
