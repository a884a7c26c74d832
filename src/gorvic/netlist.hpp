// The chain netlist: a cell of n delayed integrators between $in and $out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "gorvic/sink.hpp"

namespace gorvic {

inline constexpr std::string_view kGeneratorVersion = "2.0";

// How the lines of the netlist end. The writer emits the line ends itself, so the file is
// written in binary mode and nothing translates the text on its way to the disk.
enum class LineEnd { kLf, kCrLf };

// The platform's own: CR LF on Windows.
#ifdef _WIN32
inline constexpr LineEnd kNativeLineEnd = LineEnd::kCrLf;
#else
inline constexpr LineEnd kNativeLineEnd = LineEnd::kLf;
#endif

// The whole netlist (n + 27 lines) for 1 <= n <= INT32_MAX, with every byte of memory its
// writing needs taken when it is made: once the output file is open, the run can no
// longer fail for want of memory, and a file written in place is not cut short by it.
class ChainNetlist {
 public:
  // A line break in `command` is written as a blank: the command stays one comment line.
  ChainNetlist(std::int32_t n, std::string_view creation_time, std::string_view command,
               LineEnd end = LineEnd::kLf);

  // Writes it all; stops at the first write the sink refuses and returns false.
  bool write(Sink& out);

 private:
  std::int32_t n_;
  LineEnd end_;
  std::string head_;  // the header, the sketch and the first statement
  std::string tail_;  // the last statement and the trailer, from n = 2
  std::vector<char> block_;
};

// Makes and writes a ChainNetlist.
bool write_chain_netlist(Sink& out, std::int32_t n, std::string_view creation_time,
                         std::string_view command, LineEnd end = LineEnd::kLf);

// Writes only the n node statements, in blocks whose size does not depend on n.
bool write_node_statements(Sink& out, std::int32_t n, LineEnd end = LineEnd::kLf);

// Writes the statements "node $s<k> integrator $s<k-1>  &delayed" for k = first .. last
// (2 <= first, last < 10^10): the middle of the chain, which write_node_statements uses.
bool write_chain_links(Sink& out, std::int64_t first, std::int64_t last,
                       LineEnd end = LineEnd::kLf);

}  // namespace gorvic
