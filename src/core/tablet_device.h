#pragma once
// The tablet service as the program sees it.
#include <cstdint>
#include <string>

namespace tarvo {

// The operations the program asks of the tablet service, in the roles it gives them. Any of them
// may throw; the set-up and the shutdown trap every error.
class TabletDevice {
 public:
  virtual ~TabletDevice() = default;
  virtual void set_option(bool on) = 0;
  virtual void set_window(uintptr_t window) = 0;
  virtual void add_context(const std::string& name, bool flag) = 0;
  virtual void select_context(const std::string& name) = 0;
  virtual void remove_context(const std::string& name) = 0;
  virtual void set_connected(bool connected) = 0;
  // The current context.
  virtual void set_context_option(int32_t value) = 0;
  virtual void set_context_enabled(bool enabled) = 0;
  virtual int32_t context_extent_x() = 0;
  virtual int32_t context_extent_y() = 0;
  virtual void set_output_extent_x(int32_t value) = 0;
  virtual void set_output_extent_y(int32_t value) = 0;
  virtual void apply_context() = 0;
  // The maximum raw pressure, read for every packet.
  virtual int32_t maximum_pressure() = 0;
};

}  // namespace tarvo
