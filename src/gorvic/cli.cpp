#include "gorvic/cli.hpp"

#include <cstdlib>
#include <new>
#include <string>

#include "gorvic/clock.hpp"
#include "gorvic/count.hpp"
#include "gorvic/netlist.hpp"
#include "gorvic/output_file.hpp"

namespace gorvic {
namespace {

constexpr const char* kErrorLine = "\nZARN Generator Error: (gorvic)\n";

// The command as typed; with no argument vector at all, the generator's own name.
const char* command_name(int argc, const char* const* argv) {
  return argc > 0 && argv != nullptr && argv[0] != nullptr ? argv[0] : "gorvic";
}

void report_wrong_count(std::FILE* err, int argc, const char* const* argv) {
  const int given = argc > 0 && argv != nullptr ? argc - 1 : 0;
  std::fprintf(err, "\nZARN Generator Error: (gorvic[Version %.*s])\n",
               static_cast<int>(kGeneratorVersion.size()), kGeneratorVersion.data());
  std::fprintf(err, given <= 1 ? " Receiving %d parameter\n" : " Receiving %d parameters\n", given);
  for (int i = 1; i <= given; ++i) std::fprintf(err, "     ->  argv[%d] = '%s'\n", i, argv[i]);
  std::fprintf(err, " Usage:  %s output_file constant_number in_node\n\n",
               command_name(argc, argv));
}

// Where out_of_memory() speaks: the run's standard error.
std::FILE* error_stream = stderr;

// Memory exhausted. The C++ runtime may then lack even the memory to throw, so the run
// ends here: with the new file gone (the system removes an unnamed one), the target as it
// was (nothing truncates it before the last allocation), and a diagnostic.
[[noreturn]] void out_of_memory() {
  abandon_new_file();
  std::fprintf(error_stream, "%s Out of memory\n", kErrorLine);
  std::fflush(error_stream);
  std::_Exit(1);
}

enum class Written { kYes, kNotOpened, kNotClosed };

// Writes the netlist to `path`. Whatever happens, the output file is done with when this
// returns: a new file is removed before anything is said, so a diagnostic finds the room
// that the half netlist took (standard error on the same full disk).
Written write_netlist(const char* path, ChainNetlist& netlist) {
  OutputFile file(path);
  if (!file.is_open()) return Written::kNotOpened;
  // Only a whole netlist takes the target's place; closing can fail even after every
  // write was taken. Either failure leaves the target as it was.
  return netlist.write(file) && file.commit() ? Written::kYes : Written::kNotClosed;
}

int run_checked(int argc, const char* const* argv, std::FILE* err, const char* source_date_epoch) {
  // The time is taken first, before anything else can fail or take time.
  const auto time_text = creation_time(source_date_epoch);
  if (!time_text) {
    std::fprintf(err, "%s SOURCE_DATE_EPOCH <%s> is not a decimal count of seconds\n", kErrorLine,
                 source_date_epoch);
    return 1;
  }

  if (argc != 4 || argv == nullptr) {
    report_wrong_count(err, argc, argv);
    return 1;
  }
  const char* const path = argv[1];
  const char* const count_text = argv[2];

  // N is checked before the file is opened, so a bad N never costs the user a file.
  // Without a number the text is shown as typed; otherwise the value converted.
  const auto n = parse_count(count_text);
  if (!n || *n <= 0) {
    std::fprintf(err, "%s <%s>, the number of delayed integrators, is not a positive integer\n",
                 kErrorLine, n ? std::to_string(*n).c_str() : count_text);
    return 1;
  }

  // All the memory the writing needs is taken before the file is opened, so that running
  // out of it never finds a target cut short.
  ChainNetlist netlist(*n, *time_text, command_name(argc, argv), kNativeLineEnd);
  switch (write_netlist(path, netlist)) {
    case Written::kYes:
      return 0;
    case Written::kNotOpened:
      std::fprintf(err, "%s Can't open output file <\"%s\">\n", kErrorLine, path);
      return 1;
    case Written::kNotClosed:
      break;
  }
  std::fprintf(err, "%s Can't close output generator file <%s>\n", kErrorLine, path);
  return 1;
}

}  // namespace

int run(int argc, const char* const* argv, std::FILE* err, const char* source_date_epoch) {
  error_stream = err;
  const std::new_handler previous = std::set_new_handler(out_of_memory);
  const int status = run_checked(argc, argv, err, source_date_epoch);
  std::set_new_handler(previous);
  return status;
}

}  // namespace gorvic
