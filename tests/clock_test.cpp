#include "gorvic/clock.hpp"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

namespace {

TEST(FormatTime, PadsTheDayWithZeroAndUsesEnglishNames) {
  std::tm when{};
  when.tm_year = 2026 - 1900;
  when.tm_mon = 11;
  when.tm_mday = 7;
  when.tm_wday = 1;
  when.tm_hour = 9;
  when.tm_min = 32;
  when.tm_sec = 1;
  EXPECT_EQ(gorvic::format_time(when), "Mon Dec 07 09:32:01 2026");
  when.tm_mon = 0;
  when.tm_mday = 31;
  when.tm_wday = 0;
  when.tm_hour = 23;
  when.tm_min = 0;
  when.tm_sec = 60;  // a leap second shows as such
  EXPECT_EQ(gorvic::format_time(when), "Sun Jan 31 23:00:60 2026");
  // No such month or day: no text rather than a name from out of range.
  for (const int month : {-1, 12}) {
    when.tm_mon = month;
    EXPECT_EQ(gorvic::format_time(when), "") << month;
  }
}

TEST(CreationTime, TakesSourceDateEpochAsUtc) {
  const struct {
    const char* epoch;
    const char* text;
  } cases[] = {
      {"0", "Thu Jan 01 00:00:00 1970"},
      {"1796635921", "Mon Dec 07 09:32:01 2026"},
      {"951782400", "Tue Feb 29 00:00:00 2000"},
      {"0000000086399", "Thu Jan 01 23:59:59 1970"},
      {"253402300799", "Fri Dec 31 23:59:59 9999"},
      {"4107542399", "Sun Feb 28 23:59:59 2100"},  // 2100 is no leap year
      {"4107542400", "Mon Mar 01 00:00:00 2100"},
      {"13574606400", "Tue Feb 29 12:00:00 2400"},  // 2400 is
      {"32503680000", "Wed Jan 01 00:00:00 3000"},
      // The first of every month, which between them fall on every day of the week.
      {"1767247443", "Thu Jan 01 06:04:03 2026"},
      {"1769929686", "Sun Feb 01 07:08:06 2026"},
      {"1772352729", "Sun Mar 01 08:12:09 2026"},
      {"1775034972", "Wed Apr 01 09:16:12 2026"},
      {"1777630815", "Fri May 01 10:20:15 2026"},
      {"1780313058", "Mon Jun 01 11:24:18 2026"},
      {"1782908901", "Wed Jul 01 12:28:21 2026"},
      {"1785591144", "Sat Aug 01 13:32:24 2026"},
      {"1788273387", "Tue Sep 01 14:36:27 2026"},
      {"1790869230", "Thu Oct 01 15:40:30 2026"},
      {"1793551473", "Sun Nov 01 16:44:33 2026"},
      {"1796147316", "Tue Dec 01 17:48:36 2026"},
      // The last of every month of a leap year, and February's of another year.
      {"1706663044", "Wed Jan 31 01:04:04 2024"},
      {"1709172487", "Thu Feb 29 02:08:07 2024"},
      {"1711854730", "Sun Mar 31 03:12:10 2024"},
      {"1714450573", "Tue Apr 30 04:16:13 2024"},
      {"1717132816", "Fri May 31 05:20:16 2024"},
      {"1719728659", "Sun Jun 30 06:24:19 2024"},
      {"1722410902", "Wed Jul 31 07:28:22 2024"},
      {"1725093145", "Sat Aug 31 08:32:25 2024"},
      {"1727688988", "Mon Sep 30 09:36:28 2024"},
      {"1730371231", "Thu Oct 31 10:40:31 2024"},
      {"1732967074", "Sat Nov 30 11:44:34 2024"},
      {"1735649317", "Tue Dec 31 12:48:37 2024"},
      {"1677628799", "Tue Feb 28 23:59:59 2023"},
  };
  for (const auto& c : cases) EXPECT_EQ(gorvic::creation_time(c.epoch), c.text) << c.epoch;
}

TEST(CreationTime, RefusesMalformedSourceDateEpoch) {
  for (const char* epoch : {"", " 1", "1 ", "-1", "+1", "1.5", "0x10", "1e9", "abc", "253402300800",
                            "99999999999999999999999999"}) {
    EXPECT_EQ(gorvic::creation_time(epoch), std::nullopt) << '"' << epoch << '"';
  }
}

// The C library's own text for the local time `t`, in the "C" locale's names.
std::string library_local_time(std::time_t t) {
  char text[64];
  return std::string(text,
                     std::strftime(text, sizeof text, "%a %b %d %H:%M:%S %Y", std::localtime(&t)));
}

TEST(CreationTime, ReadsTheClockInLocalTimeWithoutSourceDateEpoch) {
  const std::time_t before = std::time(nullptr);
  const auto text = gorvic::creation_time(nullptr);
  const std::time_t after = std::time(nullptr);
  ASSERT_TRUE(text.has_value());
  // The second may turn over while it is read.
  if (*text != library_local_time(before)) {
    EXPECT_EQ(*text, library_local_time(after));
  }
}

}  // namespace
