// What each platform gives OutputFile: output_file_posix.cpp and output_file_windows.cpp.
// output_file.cpp decides, from what these report, how the destination is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace gorvic::detail {

// The destination, what was learned about it and the file being written. Defined by each
// platform; destroying it closes what is open and removes a new file that was not
// published.
struct Place;
Place* make_place(const char* path);

enum class Found {
  kDescriptor,     // a name for one of the process's open descriptors: written through it
  kOther,          // a device, a pipe or FIFO, a terminal: opened and written directly
  kRefused,        // nothing that can be opened for writing: left alone
  kFileOrNothing,  // a regular file that may be written, or nothing yet
};
Found examine(Place& place);

enum class Created {
  kYes,      // a new file, as the target's replacement would be: identical to it
  kNotHere,  // the directory takes no new file, or none can be made identical to the target
  kFailed,   // none for another reason: no space, no inode, no descriptor, no name left
};
Created create_replacement(Place& place);

// Each opens the destination for writing the way its name says; false when that fails.
bool open_descriptor(Place& place);
bool open_directly(Place& place);
bool open_in_place(Place& place);

bool write_all(Place& place, std::string_view text);

// Closes what was opened directly, through a descriptor or in place.
bool close_written(Place& place);

// Gives the complete new file the target's name, unless an interruption came while it was
// written: then it is removed and the interruption takes effect. False when publishing
// fails; the new file is then removed.
bool publish(Place& place);

// For new files' names: different in every process.
std::uint64_t process_id();

// The hidden name of a new file beside `target` (a name without a directory), one of
// kNameTries different ones; `name_max` is the longest name the directory takes.
inline constexpr unsigned kNameTries = 100;
std::string new_file_name(std::string_view target, unsigned try_number, std::size_t name_max);

}  // namespace gorvic::detail
