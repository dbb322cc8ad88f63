#include "script/write_back_watch.h"

#include <exception>
#include <utility>

namespace tarvo {

WriteBackWatch::WriteBackWatch(std::unique_ptr<Host> inner, std::shared_ptr<WriteBackReport> report)
    : ForwardingHost(std::move(inner)), report_(std::move(report)) {}

template <typename Call>
void WriteBackWatch::watched(Call call) {
  try {
    call();
  } catch (const std::exception& error) {
    report_->error = error.what();
    throw;
  }
}

void WriteBackWatch::Wik_SaveUndo() {
  *report_ = WriteBackReport{};
  report_->attempted = true;
  watched([&] { inner().Wik_SaveUndo(); });
}

void WriteBackWatch::Wik_SetRbuffer(const Plane& plane) {
  watched([&] { inner().Wik_SetRbuffer(plane); });
}

void WriteBackWatch::Wik_SetGbuffer(const Plane& plane) {
  watched([&] { inner().Wik_SetGbuffer(plane); });
}

void WriteBackWatch::Wik_SetBbuffer(const Plane& plane) {
  watched([&] { inner().Wik_SetBbuffer(plane); });
}

void WriteBackWatch::wik_Refresh() {
  watched([&] { inner().wik_Refresh(); });
  report_->written = report_->error.empty();
  if (report_->written && on_written_) on_written_();
}

void watch_write_back(HostRegistry& registry, HostRegistry::Factory inner,
                      std::shared_ptr<WriteBackReport> report) {
  registry.register_host(kHostProgId, [inner = std::move(inner), report = std::move(report)] {
    return std::unique_ptr<Host>(std::make_unique<WriteBackWatch>(inner(), report));
  });
}

}  // namespace tarvo
