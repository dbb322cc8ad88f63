#include "file/file_identity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <utility>
#include <vector>

namespace tarvo {

namespace {

// A step that failed: what was being done ("write FILE") and the system's reason.
class Failure : public std::runtime_error {
 public:
  Failure(const std::string& action, const std::string& reason)
      : std::runtime_error("cannot " + action + ": " + reason) {}
};

std::string reason_of(int error_number) {
  return std::system_category().message(error_number);
}

[[noreturn]] void fail(const std::string& action, int error_number = errno) {
  throw Failure(action, reason_of(error_number));
}

// A file descriptor, closed when it goes out of scope; close() reports a failure to close, which
// is where some file systems report a write that could not be completed.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  void close(const std::string& action) {
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0) fail(action);
  }

 private:
  int fd_;
};

// A file made during this attempt, removed again unless the attempt keeps it.
class MadeFile {
 public:
  MadeFile() = default;
  explicit MadeFile(std::string path) : path_(std::move(path)) {}
  MadeFile(MadeFile&& other) noexcept : path_(std::exchange(other.path_, {})) {}
  MadeFile& operator=(MadeFile&& other) noexcept {
    remove();
    path_ = std::exchange(other.path_, {});
    return *this;
  }
  ~MadeFile() { remove(); }
  const std::string& path() const { return path_; }
  void keep() { path_.clear(); }

  // Renames the file to destination, which is then the file made (and removed on failure).
  void rename_to(const std::string& destination, const std::string& action) {
    if (::rename(path_.c_str(), destination.c_str()) != 0) fail(action);
    path_ = destination;
  }

 private:
  void remove() {
    if (!path_.empty()) ::unlink(path_.c_str());
    path_.clear();
  }
  std::string path_;
};

std::string directory_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string name_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file as messages name it: the target, and the link the user opened when it is one.
std::string shown(const std::string& path, const std::string& target) {
  return path == target ? target : target + " (through the link " + path + ")";
}

// The mode a new file gets: what the process's umask leaves of 0666.
mode_t new_file_mode() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) {
      return static_cast<mode_t>(0666 & ~std::strtoul(line.c_str() + 6, nullptr, 8));
    }
  }
  return 0644;
}

// Opens a new file beside target, hidden, under a name of its own, readable by its owner alone.
MadeFile create_beside(const std::string& target, const std::string& suffix, int& fd,
                       const std::string& action) {
  std::string name = directory_of(target) + "/." + name_of(target) + suffix + ".XXXXXX";
  fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) fail(action);
  return MadeFile(name);
}

// An exception the contents' maker threw, carried past the handlers that turn the write's own
// failures into a FileWriteResult.
struct ContentFailed {
  std::exception_ptr error;
};

// Runs content with sink, marking what content itself throws (and not the sink) as ContentFailed.
void made_by(const FileContent& content, const FileBytesSink& sink) {
  std::exception_ptr sink_error;
  try {
    content([&](std::span<const uint8_t> bytes) {
      try {
        sink(bytes);
      } catch (...) {
        sink_error = std::current_exception();
        throw;
      }
    });
  } catch (...) {
    if (sink_error) std::rethrow_exception(sink_error);
    throw ContentFailed{std::current_exception()};
  }
}

void write_all(int fd, std::span<const uint8_t> bytes, off_t offset, const std::string& action) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote =
        pwrite(fd, bytes.data() + done, bytes.size() - done, offset + static_cast<off_t>(done));
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0) fail(action);
    done += static_cast<std::size_t>(wrote);
  }
}

std::vector<uint8_t> read_all(int fd, const std::string& action) {
  std::vector<uint8_t> bytes;
  uint8_t piece[1 << 16];
  for (off_t at = 0;;) {
    const ssize_t got = pread(fd, piece, sizeof piece, at);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) fail(action);
    if (got == 0) return bytes;
    bytes.insert(bytes.end(), piece, piece + got);
    at += got;
  }
}

void sync_file(int fd, const std::string& action) {
  if (fsync(fd) != 0) fail(action);
}

// Makes a rename in folder durable; a file system that cannot sync a folder has nothing to sync.
void sync_directory(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  ::close(fd);
}

// Gives the file open as fd the owner, group and permissions of original, as far as this user may.
// The owner changes only for a user who may give files away; the group for a user in it. A group
// not given loses its permissions, which would otherwise go to the user's own group.
void take_identity(int fd, const struct stat& original, const std::string& action) {
  if (fchown(fd, original.st_uid, original.st_gid) != 0) {
    (void)fchown(fd, static_cast<uid_t>(-1), original.st_gid);
  }
  struct stat now {};
  if (fstat(fd, &now) != 0) fail(action);
  mode_t mode = original.st_mode & 0777;
  if (now.st_gid != original.st_gid) mode &= ~static_cast<mode_t>(S_IRWXG);
  if (fchmod(fd, mode) != 0) fail(action);
}

// A complete copy of target, with its identity and on the disk, under a temporary name beside it.
MadeFile copy_for_backup(const std::string& target, const struct stat& original,
                         const std::string& action) {
  Descriptor source(open(target.c_str(), O_RDONLY | O_CLOEXEC));
  if (source.get() < 0) fail(action);
  int fd = -1;
  MadeFile copy = create_beside(target, "~", fd, action);
  Descriptor out(fd);
  take_identity(out.get(), original, action);
  // A piece at a time: a large picture is never held in memory twice.
  std::vector<uint8_t> piece(std::size_t{4} << 20);
  for (off_t at = 0;;) {
    const ssize_t got = pread(source.get(), piece.data(), piece.size(), at);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) fail(action);
    if (got == 0) break;
    for (std::size_t done = 0; done < static_cast<std::size_t>(got);) {
      const ssize_t wrote =
          pwrite(out.get(), piece.data() + done, static_cast<std::size_t>(got) - done, at + done);
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote < 0) fail(action);
      done += static_cast<std::size_t>(wrote);
    }
    at += got;
  }
  sync_file(out.get(), action);
  out.close(action);
  return copy;
}

// A second name for target beside it, hidden; none when the file system refuses one.
MadeFile link_for_backup(const std::string& target) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string name = directory_of(target) + "/." + name_of(target) + "~.XXXXXX";
    // A unique name: made, then removed, then linked to (another process taking it in between
    // makes link fail with EEXIST, and the next name is tried).
    const int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return MadeFile(std::string());
    ::close(fd);
    ::unlink(name.c_str());
    if (::link(target.c_str(), name.c_str()) == 0) return MadeFile(name);
    if (errno != EEXIST) return MadeFile(std::string());
  }
  return MadeFile(std::string());
}

std::string backup_action(const std::string& path, const std::string& target) {
  return "keep a backup of " + shown(path, target) + " as " + target + "~";
}

struct Target {
  std::string path, target;
  bool exists = false;
  struct stat status {};
};

// Replaces a file of one name (or makes a new file) through a temporary file renamed over it.
void replace_file(const Target& file, const FileContent& content, Backup backup) {
  const std::string action = "write " + shown(file.path, file.target);
  int fd = -1;
  MadeFile written = create_beside(file.target, "", fd, action);
  Descriptor out(fd);
  if (file.exists) {
    take_identity(out.get(), file.status, action);
  } else if (fchmod(out.get(), new_file_mode()) != 0) {
    fail(action);
  }
  off_t at = 0;
  made_by(content, [&](std::span<const uint8_t> bytes) {
    write_all(out.get(), bytes, at, action);
    at += static_cast<off_t>(bytes.size());
  });
  sync_file(out.get(), action);
  out.close(action);
  MadeFile backup_copy;
  if (backup == Backup::kMake && file.exists) {
    const std::string about_backup = backup_action(file.path, file.target);
    // The new file takes the name in a new inode, so the old inode itself can be the backup: a
    // second name for it costs nothing, where a copy of a large picture takes seconds. Where the
    // file system has no hard links, it is copied.
    backup_copy = link_for_backup(file.target);
    if (backup_copy.path().empty())
      backup_copy = copy_for_backup(file.target, file.status, about_backup);
    backup_copy.rename_to(file.target + "~", about_backup);
  }
  written.rename_to(file.target, action);
  written.keep();
  backup_copy.keep();
  sync_directory(directory_of(file.target));
}

// Puts old back as the contents of the file open as fd, after a write in place failed.
bool restore(int fd, std::span<const uint8_t> old) {
  try {
    write_all(fd, old, 0, "restore");
  } catch (const Failure&) {
    return false;
  }
  return ftruncate(fd, static_cast<off_t>(old.size())) == 0 && fsync(fd) == 0;
}

// Writes a file of several names in place, keeping its inode, after its backup is on the disk.
void write_in_place(const Target& file, const FileContent& content, Backup backup) {
  const std::string action = "write " + shown(file.path, file.target);
  std::vector<uint8_t> bytes;
  made_by(content, [&](std::span<const uint8_t> piece) {
    bytes.insert(bytes.end(), piece.begin(), piece.end());
  });
  MadeFile backup_copy;
  if (backup == Backup::kMake) {
    const std::string about_backup = backup_action(file.path, file.target);
    backup_copy = copy_for_backup(file.target, file.status, about_backup);
    backup_copy.rename_to(file.target + "~", about_backup);
    sync_directory(directory_of(file.target));
  }
  Descriptor out(open(file.target.c_str(), O_RDWR | O_CLOEXEC));
  if (out.get() < 0) fail(action);
  const std::vector<uint8_t> old = read_all(out.get(), action);
  if (bytes.size() > old.size()) {
    // Reserving the space first lets a full disk refuse the write before a byte has changed.
    const int error = posix_fallocate(out.get(), 0, static_cast<off_t>(bytes.size()));
    if (error != 0) {
      (void)ftruncate(out.get(), static_cast<off_t>(old.size()));
      fail(action, error);
    }
  }
  try {
    write_all(out.get(), bytes, 0, action);
    if (ftruncate(out.get(), static_cast<off_t>(bytes.size())) != 0) fail(action);
    sync_file(out.get(), action);
  } catch (const Failure& failure) {
    if (restore(out.get(), old)) throw;
    if (backup_copy.path().empty()) {
      throw std::runtime_error(std::string(failure.what()) + "; the file is left part-written");
    }
    backup_copy.keep();
    throw std::runtime_error(std::string(failure.what()) +
                             "; the file is left part-written, and its contents as they were are "
                             "kept as " +
                             file.target + "~");
  }
  out.close(action);
  backup_copy.keep();
}

}  // namespace

std::string write_target(const std::string& path) {
  std::string current = path;
  for (int links = 0; links < 40; ++links) {
    struct stat status {};
    if (lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return current;
    std::vector<char> link(PATH_MAX + 1);
    const ssize_t length = readlink(current.c_str(), link.data(), link.size() - 1);
    if (length < 0) return current;
    const std::string next(link.data(), static_cast<std::size_t>(length));
    current = next.front() == '/' ? next : directory_of(current) + "/" + next;
  }
  return current;  // a loop of links: writing it fails with the system's reason
}

std::string backup_path(const std::string& path) {
  return write_target(path) + "~";
}

FileWriteResult keep_backup(const std::string& path) {
  FileWriteResult result{{}, write_target(path)};
  const std::string action = backup_action(path, result.target);
  try {
    struct stat status {};
    if (stat(result.target.c_str(), &status) != 0) fail(action);
    MadeFile copy = copy_for_backup(result.target, status, action);
    copy.rename_to(result.target + "~", action);
    copy.keep();
    sync_directory(directory_of(result.target));
  } catch (const std::runtime_error& error) {
    result.error = error.what();
  }
  return result;
}

FileWriteResult write_back_file(const std::string& path, std::span<const uint8_t> bytes,
                                Backup backup) {
  return write_back_file(
      path, [bytes](const FileBytesSink& sink) { sink(bytes); }, backup);
}

FileWriteResult write_back_file(const std::string& path, const FileContent& content,
                                Backup backup) {
  Target file{path, write_target(path)};
  FileWriteResult result{{}, file.target};
  const std::string action = "write " + shown(path, file.target);
  try {
    file.exists = stat(file.target.c_str(), &file.status) == 0;
    if (!file.exists && errno != ENOENT) fail(action);
    if (file.exists && !S_ISREG(file.status.st_mode)) throw Failure(action, "it is not a file");
    if (file.exists && faccessat(AT_FDCWD, file.target.c_str(), W_OK, AT_EACCESS) != 0) {
      fail(action);
    }
    if (file.exists && file.status.st_nlink > 1) {
      write_in_place(file, content, backup);
    } else {
      replace_file(file, content, backup);
    }
  } catch (const ContentFailed& failed) {
    std::rethrow_exception(failed.error);
  } catch (const std::runtime_error& error) {
    result.error = error.what();
  }
  return result;
}

}  // namespace tarvo
