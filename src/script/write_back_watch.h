#pragma once
// A host that passes every call on to another one and remembers how the last write-back went.
// The close sequence traps host errors and goes on, as it must for the user; a replay, which has
// no user to see the window stay as it was, needs to know whether the image was really written.

#include <functional>
#include <memory>
#include <string>

#include "core/forwarding_host.h"

namespace tarvo {

struct WriteBackReport {
  bool attempted = false;  // a write-back (Wik_SaveUndo .. wik_Refresh) was started
  bool written = false;    // the last wik_Refresh returned normally
  std::string error;       // what the host raised during the last write-back, if anything
};

class WriteBackWatch : public ForwardingHost {
 public:
  // The report outlives the host: Main hands the host to the program, the caller keeps the report.
  WriteBackWatch(std::unique_ptr<Host> inner, std::shared_ptr<WriteBackReport> report);

  // Runs after each write-back that the host finished without an error.
  void set_on_written(std::function<void()> hook) { on_written_ = std::move(hook); }

  void Wik_SaveUndo() override;
  void Wik_SetRbuffer(const Plane& plane) override;
  void Wik_SetGbuffer(const Plane& plane) override;
  void Wik_SetBbuffer(const Plane& plane) override;
  void wik_Refresh() override;

 private:
  // Runs one write-back call, noting what it raised before passing the error on.
  template <typename Call>
  void watched(Call call);

  std::shared_ptr<WriteBackReport> report_;
  std::function<void()> on_written_;
};

// Wraps whatever the registry creates under kHostProgId in a WriteBackWatch reporting to report.
void watch_write_back(HostRegistry& registry, HostRegistry::Factory inner,
                      std::shared_ptr<WriteBackReport> report);

}  // namespace tarvo
