// The chain netlist: a cell of n delayed integrators between $in and $out.
#pragma once

#include <cstdint>
#include <string_view>

#include "gorvic/sink.hpp"

namespace gorvic {

inline constexpr std::string_view kGeneratorVersion = "2.0";

// Writes the whole netlist (n + 27 lines) for 1 <= n <= INT32_MAX. Stops at the first
// write the sink refuses and returns false; true when everything was written.
bool write_chain_netlist(Sink& out, std::int32_t n, std::string_view creation_time,
                         std::string_view command);

// Writes only the n node statements, in blocks whose size does not depend on n.
bool write_node_statements(Sink& out, std::int32_t n);

// Writes the statements "node $s<k> integrator $s<k-1>  &delayed" for k = first .. last
// (2 <= first, last < 10^10): the middle of the chain, which write_node_statements uses.
bool write_chain_links(Sink& out, std::int64_t first, std::int64_t last);

}  // namespace gorvic
