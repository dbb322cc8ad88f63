#include "summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

namespace tarvo::bench {
namespace {

struct SummaryRow {
  std::string workload, unit, goal;
  std::vector<double> ours, baseline;
  std::map<std::string, double> ours_work, baseline_work;
};

// Work counts may differ by this fraction of the larger before a row is refused.
constexpr double kWorkTolerance = 0.10;

// Why the row compares unequal work, or empty when it does not.
std::string refusal(const SummaryRow& row) {
  std::string why;
  for (const auto& [count, ours] : row.ours_work) {
    const auto theirs = row.baseline_work.find(count);
    if (theirs == row.baseline_work.end()) continue;
    const double larger = std::max(std::fabs(ours), std::fabs(theirs->second));
    if (larger == 0.0 || std::fabs(ours - theirs->second) <= kWorkTolerance * larger) continue;
    char text[160];
    std::snprintf(text, sizeof text, "%s%s differ by %.0f %% (ours %.0f, baseline %.0f)",
                  why.empty() ? "" : "; ", count.c_str(),
                  100.0 * std::fabs(ours - theirs->second) / larger, ours, theirs->second);
    why += text;
  }
  return why;
}

void print_summary();

// Never destroyed: the table is printed from an exit handler, after which static destructors run
// in an order that the registry must not depend on.
std::vector<SummaryRow>& rows() {
  static auto* registry = [] {
    std::atexit(print_summary);
    return new std::vector<SummaryRow>();
  }();
  return *registry;
}

SummaryRow& row_for(const std::string& workload) {
  std::vector<SummaryRow>& all = rows();
  auto it = std::find_if(all.begin(), all.end(),
                         [&](const SummaryRow& r) { return r.workload == workload; });
  if (it != all.end()) return *it;
  all.push_back(SummaryRow{workload, "", "", {}, {}, {}, {}});
  return all.back();
}

// Three significant digits, but whole numbers from 1000 up, so that rates and sizes never show
// as powers of ten ("34215 events/s", not "3.42e+04 events/s").
std::string figure_text(double value, const std::string& unit) {
  if (std::isnan(value)) return "n/a";
  char text[64];
  const char* format = std::fabs(value) >= 1000.0 ? "%.0f %s" : "%.3g %s";
  std::snprintf(text, sizeof text, format, value, unit.c_str());
  return text;
}

std::string ratio_text(double ours, double baseline) {
  if (std::isnan(ours) || std::isnan(baseline) || baseline == 0.0) return "n/a";
  char text[32];
  std::snprintf(text, sizeof text, "%.2fx", ours / baseline);
  return text;
}

struct Cells {
  std::string workload, ours, baseline, ratio, goal, runs;
};

Cells cells_of(const SummaryRow& row) {
  const double ours = median(row.ours), baseline = median(row.baseline);
  const std::string runs =
      std::to_string(row.ours.size()) + " / " + std::to_string(row.baseline.size());
  return Cells{row.workload,
               figure_text(ours, row.unit),
               figure_text(baseline, row.unit),
               refusal(row).empty() ? ratio_text(ours, baseline) : "refused",
               row.goal,
               runs};
}

void print_cells(const Cells& c, const std::vector<std::size_t>& w) {
  std::printf("%-*s  %*s  %*s  %*s  %-*s  %s\n", static_cast<int>(w[0]), c.workload.c_str(),
              static_cast<int>(w[1]), c.ours.c_str(), static_cast<int>(w[2]), c.baseline.c_str(),
              static_cast<int>(w[3]), c.ratio.c_str(), static_cast<int>(w[4]), c.goal.c_str(),
              c.runs.c_str());
}

void print_summary() {
  if (rows().empty()) return;
  std::vector<Cells> table{
      Cells{"workload", "ours", "baseline", "ratio", "goal", "runs (ours / baseline)"}};
  for (const SummaryRow& row : rows()) table.push_back(cells_of(row));
  std::vector<std::size_t> width(5, 0);
  for (const Cells& c : table) {
    const std::string* column[] = {&c.workload, &c.ours, &c.baseline, &c.ratio, &c.goal};
    for (std::size_t i = 0; i < width.size(); ++i) width[i] = std::max(width[i], column[i]->size());
  }
  std::printf(
      "\nSummary (medians over the runs recorded; ratio = ours / baseline: for times and sizes "
      "lower is better, for rates higher)\n");
  for (const Cells& c : table) print_cells(c, width);
  for (const SummaryRow& row : rows()) {
    const std::string why = refusal(row);
    if (!why.empty()) std::printf("refused: %s: %s\n", row.workload.c_str(), why.c_str());
  }
  std::fflush(stdout);
}

}  // namespace

double median(std::vector<double> values) {
  if (values.empty()) return std::nan("");
  const std::size_t mid = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + mid, values.end());
  if (values.size() % 2 == 1) return values[mid];
  const double upper = values[mid];
  return (*std::max_element(values.begin(), values.begin() + mid) + upper) / 2.0;
}

void record_summary_row(const std::string& workload, double ours, double baseline,
                        const std::string& unit, const std::string& goal) {
  record_summary_ours(workload, ours, unit, goal);
  record_summary_baseline(workload, baseline);
}

void record_summary_ours(const std::string& workload, double ours, const std::string& unit,
                         const std::string& goal) {
  SummaryRow& row = row_for(workload);
  if (row.ours.empty()) {
    row.unit = unit;
    row.goal = goal;
  }
  row.ours.push_back(ours);
}

void record_summary_baseline(const std::string& workload, double baseline) {
  row_for(workload).baseline.push_back(baseline);
}

void record_summary_work(const std::string& workload, bool ours, const std::string& count,
                         double value) {
  SummaryRow& row = row_for(workload);
  (ours ? row.ours_work : row.baseline_work)[count] = value;
}

}  // namespace tarvo::bench
