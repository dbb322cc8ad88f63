#pragma once
// Workloads that run in a process of their own, for figures a process keeps for its whole life:
// its peak resident memory only ever grows, so two workloads measured in one process would
// contaminate each other, and every benchmark before them would too.
//
// The child is this executable started afresh (fork, then exec of /proc/self/exe): a child that
// were only forked would share every page the parent has touched, the images of the benchmarks run
// before it, and Linux counts those shared pages in the child's resident set and in its peak. After
// the exec the child's address space holds only what the executable maps at start and what the
// workload allocates. The child runs the named workload and reports its figures, each a name and a
// number, through a pipe; "peak_kB" (VmHWM, the peak resident set in KiB) is always among them.

#include <map>
#include <optional>
#include <string>

namespace tarvo::bench {

// The figures a workload reports, by name.
using ChildFigures = std::map<std::string, double>;
using ChildWorkload = void (*)(ChildFigures& figures);

// Makes the workload available to children under name. Returns true, so that a file can register
// its workloads from the initialiser of a constant.
bool register_child_workload(const std::string& name, ChildWorkload workload);

// When the arguments start a child (--tarvo-child=NAME), runs that workload, writes its figures and
// the peak to standard output and returns the exit status; otherwise returns nothing.
std::optional<int> run_child_if_asked(int argc, char** argv);

// What a child reported, or why it reported nothing.
struct ChildResult {
  ChildFigures figures;
  std::string error;  // empty when the child ran its workload to the end
};

// Runs the named workload in a fresh child process and waits for it.
ChildResult run_in_child(const std::string& name);

}  // namespace tarvo::bench
