#include "gorvic/clock.hpp"

#include <cstdint>
#include <cstdio>
#include <string_view>

namespace gorvic {
namespace {

// 9999-12-31 23:59:59 UTC: the last instant whose year fits the four digits of the text.
constexpr std::int64_t kLastEpochSecond = 253402300799;

bool to_local(std::time_t t, std::tm& out) {
#ifdef _WIN32
  return localtime_s(&out, &t) == 0;
#else
  return localtime_r(&t, &out) != nullptr;
#endif
}

// The UTC calendar time `seconds` after the epoch (0 <= seconds). Computed here rather
// than by the C library, whose range differs between platforms (the Windows runtime
// stops at the year 3000).
std::tm utc_time(std::int64_t seconds) {
  std::tm out{};
  const std::int64_t days = seconds / 86400;
  const std::int64_t rest = seconds % 86400;
  out.tm_hour = static_cast<int>(rest / 3600);
  out.tm_min = static_cast<int>(rest / 60 % 60);
  out.tm_sec = static_cast<int>(rest % 60);
  out.tm_wday = static_cast<int>((days + 4) % 7);  // 1970-01-01 was a Thursday
  // Civil date from a day count, in 400-year eras of 146097 days that start on 1 March,
  // so that the leap day ends a year.
  const std::int64_t shifted = days + 719468;  // days since 0000-03-01
  const std::int64_t era = shifted / 146097;
  const std::int64_t day_of_era = shifted - era * 146097;
  const std::int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const std::int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t month_from_march = (5 * day_of_year + 2) / 153;
  const std::int64_t month = month_from_march < 10 ? month_from_march + 3 : month_from_march - 9;
  out.tm_mday = static_cast<int>(day_of_year - (153 * month_from_march + 2) / 5 + 1);
  out.tm_mon = static_cast<int>(month - 1);
  out.tm_year = static_cast<int>(year_of_era + era * 400 + (month <= 2 ? 1 : 0) - 1900);
  return out;
}

// Parses a non-empty run of decimal digits no later than kLastEpochSecond.
std::optional<std::int64_t> parse_epoch(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > kLastEpochSecond) return std::nullopt;
  }
  return value;
}

}  // namespace

std::string format_time(const std::tm& when) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (when.tm_wday < 0 || when.tm_wday > 6 || when.tm_mon < 0 || when.tm_mon > 11) return {};
  // Room for any field values: 3 + 3 + four ints + a long long + 6 separators < 96.
  char text[96];
  std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %lld", kDays[when.tm_wday],
                kMonths[when.tm_mon], when.tm_mday, when.tm_hour, when.tm_min, when.tm_sec,
                when.tm_year + 1900LL);
  return text;
}

std::optional<std::string> creation_time(const char* source_date_epoch) {
  if (source_date_epoch != nullptr) {
    const auto seconds = parse_epoch(source_date_epoch);
    if (!seconds) return std::nullopt;
    return format_time(utc_time(*seconds));
  }
  std::tm when{};
  const std::time_t now = std::time(nullptr);
  if (now == static_cast<std::time_t>(-1) || !to_local(now, when)) return std::string{};
  return format_time(when);
}

}  // namespace gorvic
