#include "gorvic/cli.hpp"

#include <string>

#include "gorvic/clock.hpp"
#include "gorvic/count.hpp"
#include "gorvic/netlist.hpp"
#include "gorvic/output_file.hpp"
#include "gorvic/sink.hpp"

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

}  // namespace

int run(int argc, const char* const* argv, std::FILE* err, const char* source_date_epoch) {
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

  OutputFile file(path);
  if (!file.stream()) {
    std::fprintf(err, "%s Can't open output file <\"%s\">\n", kErrorLine, path);
    return 1;
  }
  // The writer hands over few, large blocks: a stream buffer would only add a copy and a
  // second system call per block.
  std::setvbuf(file.stream(), nullptr, _IONBF, 0);
  StreamSink sink(file.stream());
  // Only a whole netlist takes the target's place; closing can fail even after every
  // write was taken. Either failure leaves the target as it was.
  if (!write_chain_netlist(sink, *n, *time_text, command_name(argc, argv), kNativeLineEnd) ||
      !file.commit()) {
    std::fprintf(err, "%s Can't close output generator file <%s>\n", kErrorLine, path);
    return 1;
  }
  return 0;
}

}  // namespace gorvic
