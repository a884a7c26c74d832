// Where the netlist is written, so that the name asked for never holds a half netlist.
//
// A regular file, or a name that holds nothing yet, is written to a new hidden file
// beside it, which replaces the target by a rename only once it is complete and closed;
// a failure or an interruption (SIGINT, SIGTERM, SIGHUP, Ctrl-C) removes the new file
// and leaves the target as it was. Everything else is written directly: a device, a
// pipe or FIFO, a descriptor the caller opened (/dev/stdout, /dev/fd/N), and a file
// whose directory takes no new file, which is written in place.
//
// Every stream is binary: the writer puts the platform's line ends itself, and a
// text-mode stream would translate them byte by byte in small writes, six times slower
// on Windows.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace gorvic {

class OutputFile {
 public:
  // Opens the destination for `path`; stream() is null when it cannot be opened.
  explicit OutputFile(const char* path);
  // Without a successful commit(), closes the stream and removes the new file.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  std::FILE* stream() const { return stream_; }

  // Closes the stream and renames the new file over the target. False when either
  // fails; the new file is then removed and the target is as it was.
  bool commit();

 private:
  // Closes the stream if still open; keeps the new file under the target's name when
  // `keep`, removes it otherwise.
  bool finish(bool keep);

  std::FILE* stream_ = nullptr;
  std::string target_;     // the file the new one replaces
  std::string temporary_;  // the new file; empty when the destination is written directly
};

// The new file's name for `target`: in the same directory, a dot, the target's name and
// `suffix`, with the target's name cut so that the last component stays within
// `name_max` bytes (the target's own name may already be that long).
std::string hidden_sibling(std::string_view target, std::string_view suffix, std::size_t name_max);

}  // namespace gorvic
