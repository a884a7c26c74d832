// Where the netlist is written, so that the name asked for never holds a half netlist.
//
// A regular file, or a name that holds nothing yet, is replaced: the netlist goes to a new
// file in the same directory that has no name while it is written (Linux) or is deleted
// when the process ends (Windows), and takes the target's name by a rename only once it
// is complete. A failure, an interruption or a kill leaves the target as it was and
// nothing beside it. The replacement is made identical to the file it replaces (owner,
// group, mode, ACL, extended attributes); where that cannot be done, or the directory
// takes no new file, the file is written in place, as a shell's `>` would. Everything
// else is written directly: a device, a pipe or FIFO, and a name for one of the process's
// open descriptors (/dev/stdout, /dev/fd/N, /proc/self/fd/N, by any spelling).
//
// The decision is taken before anything is opened for writing, and nothing is truncated
// unless the file is written in place.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "gorvic/sink.hpp"

namespace gorvic {

namespace detail {
struct Place;
struct PlaceDeleter {
  void operator()(Place* place) const;
};
}  // namespace detail

class OutputFile final : public Sink {
 public:
  // Opens the destination for `path`; is_open() tells whether that worked.
  explicit OutputFile(const char* path);
  // Without a successful commit(), a new file is removed and the target left as it was.
  ~OutputFile() override;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool is_open() const { return open_; }
  bool put(std::string_view text) override;

  // Closes the file and, for a replacement, renames it over the target. False when that
  // fails; the target is then as it was. An interruption that came while the file was
  // written ends the process here, by that signal, with the target as it was.
  bool commit();

 private:
  std::unique_ptr<detail::Place, detail::PlaceDeleter> place_;
  bool open_ = false;
  bool replacing_ = false;
};

// Makes sure that standard input, output and error are open (on /dev/null where they were
// closed): otherwise the first file the run opens would take one of their numbers, and a
// diagnostic would be written into it.
void reserve_standard_descriptors() noexcept;

// For a run that must end at once (its memory exhausted): removes a new file that has a
// name of its own and is not yet published. Needs no memory.
void abandon_new_file() noexcept;

// The new file's name for `target`: in the same directory, a dot, the target's name and
// `suffix`, with the target's name cut so that the last component stays within
// `name_max` bytes (the target's own name may already be that long).
std::string hidden_sibling(std::string_view target, std::string_view suffix, std::size_t name_max);

}  // namespace gorvic
