#pragma once
// A summary of the run's headline figures, printed as one table to stdout when tarvo_bench exits.
//
// A row compares one of our figures with a baseline measured in the same run, beside the goal the
// figure is held to. Benchmarks record into it from their body, after measuring; a benchmark run
// several times (--benchmark_repetitions) records once per run, and the table shows the median of
// each side, their ratio (ours / baseline), and how many runs were recorded. For times and sizes
// a ratio below 1 is better; for a rate (events per second) above 1 is, and its goal says so.
// A row may also carry counts of the work each side did (painted pixels, dabs): when both sides
// report a count of the same name and the two differ by more than 10 % of the larger, the row is
// refused: its ratio reads "refused" and a note under the table says which count differed and by
// how much, since a comparison of unequal work proves nothing.
// Rows appear in the order in which their workload was first recorded; a side that was never
// recorded (a baseline library missing, a filter that left it out) shows as "n/a". Nothing is
// printed when no row was recorded.
//
// Record only from benchmarks with a fixed iteration count (->Iterations(n)). Without one the
// library calls a benchmark several times while it chooses the count, and every call would be
// recorded. Only the benchmark thread records: the registry takes no lock.

#include <string>
#include <vector>

namespace tarvo::bench {

// The median of the values, NaN when there are none.
double median(std::vector<double> values);

// Records both sides of a row at once, for benchmarks that measure their own baseline.
void record_summary_row(const std::string& workload, double ours, double baseline,
                        const std::string& unit, const std::string& goal);

// Record the two sides of a row separately, for rows whose figures come from different benchmarks.
// The unit and goal of a row are those of its first record_summary_ours.
void record_summary_ours(const std::string& workload, double ours, const std::string& unit,
                         const std::string& goal);
void record_summary_baseline(const std::string& workload, double baseline);

// The work one side of a row did, by name (the last record of a name counts).
void record_summary_work(const std::string& workload, bool ours, const std::string& count,
                         double value);

}  // namespace tarvo::bench
