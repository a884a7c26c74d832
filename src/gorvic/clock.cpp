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

bool to_utc(std::time_t t, std::tm& out) {
#ifdef _WIN32
  return gmtime_s(&out, &t) == 0;
#else
  return gmtime_r(&t, &out) != nullptr;
#endif
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
  char text[64];
  const int length = std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %d",
                                   kDays[when.tm_wday], kMonths[when.tm_mon], when.tm_mday,
                                   when.tm_hour, when.tm_min, when.tm_sec, when.tm_year + 1900);
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof text) return {};
  return std::string(text, static_cast<std::size_t>(length));
}

std::optional<std::string> creation_time(const char* source_date_epoch) {
  std::tm when{};
  if (source_date_epoch != nullptr) {
    const auto seconds = parse_epoch(source_date_epoch);
    if (!seconds || !to_utc(static_cast<std::time_t>(*seconds), when)) return std::nullopt;
    return format_time(when);
  }
  const std::time_t now = std::time(nullptr);
  if (now == static_cast<std::time_t>(-1) || !to_local(now, when)) return std::string{};
  return format_time(when);
}

}  // namespace gorvic
