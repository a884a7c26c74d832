// Node statements per second, block writer against one formatted write per statement,
// into a sink that discards the text: what is measured is the writer alone.
//
//   cmake --workflow --preset bench && ./build/bench/bench/netlist_bench
#include <benchmark/benchmark.h>

#include <cstdint>

#include "gorvic/netlist.hpp"
#include "simple_writer.hpp"

namespace {

// Keeps nothing, but touches every block so the work cannot be optimised away.
class DiscardingSink final : public gorvic::Sink {
 public:
  bool put(std::string_view text) override {
    bytes_ += text.size();
    benchmark::DoNotOptimize(text.data());
    return true;
  }
  std::uint64_t bytes() const { return bytes_; }

 private:
  std::uint64_t bytes_ = 0;
};

template <void (*Writer)(gorvic::Sink&, std::int32_t, gorvic::LineEnd)>
void statements(benchmark::State& state) {
  const auto n = static_cast<std::int32_t>(state.range(0));
  std::uint64_t bytes = 0;
  for (auto _ : state) {
    DiscardingSink sink;
    Writer(sink, n, gorvic::LineEnd::kLf);
    bytes += sink.bytes();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.counters["bytes_per_statement"] =
      static_cast<double>(bytes) / static_cast<double>(state.iterations() * state.range(0));
}

void write_blocks(gorvic::Sink& out, std::int32_t n, gorvic::LineEnd end) {
  gorvic::write_node_statements(out, n, end);  // the discarding sink refuses nothing
}

void block_writer(benchmark::State& state) {
  statements<write_blocks>(state);
}
void per_statement(benchmark::State& state) {
  statements<gorvic::test::write_node_statements_simple>(state);
}

BENCHMARK(block_writer)->Arg(1'000'000)->Arg(100'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(per_statement)
    ->Arg(1'000'000)
    ->Arg(100'000'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
