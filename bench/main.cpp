// The one entry point of tarvo_bench; every bench/*.cpp file only registers benchmarks.
#include <benchmark/benchmark.h>

BENCHMARK_MAIN();
