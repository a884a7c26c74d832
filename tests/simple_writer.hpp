// The node statements written the plain way, one formatted write each: what the block
// writer is checked against in the tests and measured against in the benchmark.
#pragma once

#include <cinttypes>
#include <cstdint>
#include <cstdio>

#include "gorvic/netlist.hpp"
#include "gorvic/sink.hpp"

namespace gorvic::test {

inline const char* text_of(LineEnd end) {
  return end == LineEnd::kCrLf ? "\r\n" : "\n";
}

// "node $s<k> integrator $s<k-1>  &delayed" and the line end, into `line`; its length.
inline std::size_t format_link(char (&line)[64], std::int64_t k, LineEnd end) {
  return static_cast<std::size_t>(std::snprintf(
      line, sizeof line, "node $s%02" PRId64 " integrator $s%02" PRId64 "  &delayed%s", k, k - 1,
      text_of(end)));
}

// The sinks this writes into keep everything, so what they return is not looked at.
inline void write_node_statements_simple(Sink& out, std::int32_t n, LineEnd end = LineEnd::kLf) {
  char line[64];
  auto put = [&](int length) { out.put({line, static_cast<std::size_t>(length)}); };
  if (n == 1) {
    put(std::snprintf(line, sizeof line, "node $out integrator $in  &delayed%s", text_of(end)));
    return;
  }
  put(std::snprintf(line, sizeof line, "node $s01 integrator $in  &delayed%s", text_of(end)));
  for (std::int32_t k = 2; k < n; ++k) out.put({line, format_link(line, k, end)});
  put(std::snprintf(line, sizeof line, "node $out integrator $s%02" PRId32 "  &delayed%s", n - 1,
                    text_of(end)));
}

}  // namespace gorvic::test
