// The creation-time text of the netlist header.
#pragma once

#include <ctime>
#include <optional>
#include <string>

namespace gorvic {

// "Www Mmm dd hh:mm:ss yyyy" with English names and a zero-padded day, whatever the
// process locale. Empty for a weekday or month out of range.
std::string format_time(const std::tm& when);

// The creation time: now in local time, or, when `source_date_epoch` is given (the
// SOURCE_DATE_EPOCH convention for reproducible output), that many seconds after the
// epoch in UTC. Empty when the clock cannot be read. Nothing when `source_date_epoch` is
// not a decimal count of seconds that the text can show.
std::optional<std::string> creation_time(const char* source_date_epoch);

}  // namespace gorvic
