// The node statements written the plain way, one formatted write each: what the block
// writer is checked against in the tests and measured against in the benchmark.
#pragma once

#include <cinttypes>
#include <cstdint>
#include <cstdio>

#include "gorvic/netlist.hpp"
#include "gorvic/sink.hpp"

namespace gorvic::test {

// The sinks this writes into keep everything, so what they return is not looked at.
inline void write_node_statements_simple(Sink& out, std::int32_t n, LineEnd end = LineEnd::kLf) {
  const char* const eol = end == LineEnd::kCrLf ? "\r\n" : "\n";
  char line[64];
  auto put = [&](int length) { out.put({line, static_cast<std::size_t>(length)}); };
  if (n == 1) {
    put(std::snprintf(line, sizeof line, "node $out integrator $in  &delayed%s", eol));
    return;
  }
  put(std::snprintf(line, sizeof line, "node $s01 integrator $in  &delayed%s", eol));
  for (std::int32_t k = 2; k < n; ++k) {
    put(std::snprintf(line, sizeof line,
                      "node $s%02" PRId32 " integrator $s%02" PRId32 "  &delayed%s", k, k - 1,
                      eol));
  }
  put(std::snprintf(line, sizeof line, "node $out integrator $s%02" PRId32 "  &delayed%s", n - 1,
                    eol));
}

}  // namespace gorvic::test
