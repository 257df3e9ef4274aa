// Lookup cost of the object registry: a static number is one index, a dynamic one a hash lookup.
#include <benchmark/benchmark.h>

#include "core/object_table.h"

namespace {

struct Record {
  int handle = 0;
  bool isLive() const { return handle != 0; }
};

void BM_StaticLookup(benchmark::State& state) {
  lunadio::ObjectTable<Record> table(50);
  for (int i = 0; i < 100; ++i) table.allocate(i).record->handle = i + 1;
  int id = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(table.lookup(id));
    id = (id + 37) % 100;
  }
}
BENCHMARK(BM_StaticLookup);

void BM_DynamicLookup(benchmark::State& state) {
  lunadio::ObjectTable<Record> table(16);
  std::vector<lunadio::ObjectNumber> ids;
  for (int i = 0; i < state.range(0); ++i) {
    auto allocation = table.allocate(lunadio::ObjectAny);
    allocation.record->handle = 1;
    ids.push_back(allocation.id);
  }
  std::size_t index = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(table.lookup(ids[index]));
    index = (index + 37) % ids.size();
  }
}
BENCHMARK(BM_DynamicLookup)->Arg(10)->Arg(10000);

}  // namespace

BENCHMARK_MAIN();
