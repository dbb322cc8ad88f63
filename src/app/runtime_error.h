#pragma once
// An error the program does not trap: it carries the number and description that the top level
// reports as "Run-time error 'N':" before the program ends.

#include <stdexcept>
#include <string>

namespace tarvo {

class RuntimeError : public std::runtime_error {
 public:
  RuntimeError(int number, const std::string& description)
      : std::runtime_error(description), number_(number) {}
  int number() const { return number_; }
  std::string description() const { return what(); }

 private:
  int number_;
};

// The numbers the program raises itself.
namespace error_number {
constexpr int kOutOfMemory = 7;
constexpr int kFileNotFound = 53;
constexpr int kBadFileFormat = 321;
constexpr int kCannotCreateObject = 429;
constexpr int kHostCallFailed = 440;
constexpr int kSurfaceOutOfMemory = 31001;
}  // namespace error_number

// The report text of an error: "Run-time error 'N':" on one line, then the description.
std::string run_time_error_report(const RuntimeError& error);

}  // namespace tarvo
