#include "core/host.h"

#include "core/runtime_error.h"

namespace tarvo {

void HostRegistry::register_host(const std::string& prog_id, Factory factory) {
  factories_[prog_id] = std::move(factory);
}

std::unique_ptr<Host> HostRegistry::create(const std::string& prog_id) const {
  const auto found = factories_.find(prog_id);
  if (found == factories_.end()) {
    throw RuntimeError(
        error_number::kCannotCreateObject,
        "ActiveX component can't create object: no host is registered as \"" + prog_id + "\"");
  }
  std::unique_ptr<Host> host = found->second();
  if (!host) {
    throw RuntimeError(error_number::kCannotCreateObject,
                       "ActiveX component can't create object \"" + prog_id + "\"");
  }
  return host;
}

}  // namespace tarvo
