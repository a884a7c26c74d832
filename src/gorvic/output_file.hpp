// Where the netlist is written, so that the name never holds a half netlist; the mode is
// decided before the first byte. A regular file, or nothing, is replaced by a new file as
// the old one's twin, which takes the name only when complete; where it could not be, the
// old file is written in place, as a shell's `>` would. Anything else is written directly.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "gorvic/sink.hpp"

namespace gorvic {

enum class Mode {
  kRefused,     // nothing that may be written: not opened
  kDescriptor,  // a name for one of the process's open descriptors: a copy of it
  kDirect,      // not a regular file (a device, a FIFO): opened and written as it is
  kInPlace,     // an existing file that is not replaced: cut to nothing and written
  kUnnamed,     // a new file that has no name until it is complete (Linux)
  kNamed,       // a new file under a hidden name beside the target, renamed over it
};

namespace detail {
// Each platform's (linux/, windows/). Commit closes the output and gives a new file the
// target's name; destroy closes what is open and removes a new file not published.
struct Place;
Place* open_place(const char* path, Mode& mode);
void destroy(Place* place);
bool write_all(Place& place, std::string_view text);
bool commit(Place& place);
bool random_bytes(char* bytes, std::size_t size);  // false where the system has no source

std::string new_hidden_name(std::string_view name, std::size_t name_max);  // another each call
}  // namespace detail

class OutputFile final : public Sink {
 public:
  explicit OutputFile(const char* path) : place_(detail::open_place(path, mode_)) {}

  bool is_open() const { return mode_ != Mode::kRefused; }
  bool put(std::string_view text) override { return detail::write_all(*place_, text); }
  // False when closing or publishing failed; a replaced target is then as it was.
  bool commit() { return detail::commit(*place_); }

 private:
  struct Destroy {
    void operator()(detail::Place* place) const { detail::destroy(place); }
  };
  Mode mode_ = Mode::kRefused;
  std::unique_ptr<detail::Place, Destroy> place_;
};

// Keeps standard input, output and error open (on /dev/null where closed), so that no file
// of the run takes one of their numbers and gets a diagnostic written into it.
void reserve_standard_descriptors() noexcept;

// For a run that must end at once (its memory exhausted): removes a new file that has a
// name of its own and is not yet published. Needs no memory.
void abandon_new_file() noexcept;

// A dot, `name` cut so that the whole stays within `name_max` bytes, a dot, and six letters
// or digits made from the first six bytes of `random`.
std::string hidden_name(std::string_view name, std::string_view random, std::size_t name_max);

}  // namespace gorvic
