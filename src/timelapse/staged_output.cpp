#include "timelapse/staged_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <system_error>

#include "timelapse/video_error.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

// The target without the trailing slashes that mark a folder, so that its name and folder are
// those of the folder itself.
fs::path without_trailing_slash(const fs::path& target) {
  std::string name = target.native();
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  return name;
}

[[noreturn]] void refuse(const std::string& name, const std::string& why) {
  throw VideoError("cannot write " + name + ": " + why);
}

std::string random_suffix() {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device device;
  std::string suffix(6, 'a');
  for (char& c : suffix) c = kLetters[device() % (sizeof kLetters - 1)];
  return suffix;
}

// Makes an empty file or folder at path, with the permissions the user's umask gives new files;
// false with errno EEXIST when path is taken.
bool make_empty(const fs::path& path, StagedOutput::Kind kind) {
  if (kind == StagedOutput::Kind::Folder) return ::mkdir(path.c_str(), 0777) == 0;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

}  // namespace

StagedOutput::StagedOutput(const fs::path& target, Kind kind)
    : target_(without_trailing_slash(target)), name_(target.native()), kind_(kind) {
  check_target();
  make_temporary();
}

StagedOutput::~StagedOutput() {
  discard();
}

void StagedOutput::check_target() const {
  const fs::path folder = target_.has_parent_path() ? target_.parent_path() : fs::path(".");
  std::error_code error;
  const fs::file_status folder_status = fs::status(folder, error);
  if (!fs::exists(folder_status)) refuse(name_, "folder " + folder.native() + " does not exist");
  if (!fs::is_directory(folder_status)) refuse(name_, folder.native() + " is not a folder");
  const fs::file_status status = fs::symlink_status(target_, error);
  if (!fs::exists(status)) return;
  if (kind_ == Kind::File && fs::is_directory(status)) refuse(name_, "it is a folder");
  if (kind_ == Kind::Folder && !fs::is_directory(status)) refuse(name_, "it is not a folder");
  if (kind_ == Kind::Folder && !fs::is_empty(target_, error)) {
    refuse(name_, "the folder is not empty; frames are written only into a new or empty folder");
  }
}

void StagedOutput::make_temporary() {
  const fs::path folder = target_.parent_path();
  const std::string stem = "." + target_.filename().native() + ".partial-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = folder / (stem + random_suffix());
    if (make_empty(candidate, kind_)) {
      temporary_ = candidate;
      return;
    }
    if (errno != EEXIST) refuse(name_, std::strerror(errno));
  }
  refuse(name_, "no free temporary name beside it");
}

void StagedOutput::commit() {
  if (temporary_.empty()) return;
  if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
    const int error = errno;
    discard();
    refuse(name_, std::strerror(error));
  }
  temporary_.clear();
}

void StagedOutput::discard() noexcept {
  if (temporary_.empty()) return;
  std::error_code ignored;
  fs::remove_all(temporary_, ignored);
  temporary_.clear();
}

}  // namespace tarvo
