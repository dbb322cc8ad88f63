// The one entry point of tarvo_bench; every other bench/*.cpp file only registers benchmarks, or
// workloads that a benchmark runs in a child process of its own (child_process.h).
#include <benchmark/benchmark.h>

#include <optional>

#include "child_process.h"

int main(int argc, char** argv) {
  if (const std::optional<int> status = tarvo::bench::run_child_if_asked(argc, argv)) {
    return *status;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
