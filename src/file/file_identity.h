#pragma once
// Writing an image file back in place of the one the user opened, so that it stays the same file
// to everything else on the system: the same path through any symbolic link, the same owner,
// group and mode, the same inode where other names (hard links) share it. The previous contents
// can be kept beside it as NAME~, a backup that nobody may read who could not read the file.
//
// - A symbolic link is followed to the file it leads to: that file is written and its backup made
//   beside it; the link stays a link.
// - A file with one name is replaced atomically: the new contents go to a temporary file beside it,
//   which takes the file's mode, group and (where the user may set it) owner, reaches the disk and
//   is renamed over the file. A reader sees the old file or the new one, never a mixture.
// - A file with several names (hard links) is written in place, so that every name shows the new
//   contents: the space is reserved first, then the bytes are written and reach the disk. When
//   this fails part-way, the old contents are written back.
// - A group or owner the user may not give is not given, and then the group's permissions are
//   withdrawn rather than handed to the user's own group.
// - On failure the error names the file and gives the system's reason ("No space left on
//   device", "Permission denied"), and everything made in the attempt is removed: a temporary
//   file, a backup. A file the user may not write is refused before anything is made.

#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace tarvo {

struct FileWriteResult {
  std::string error;   // empty on success, else "cannot write FILE: REASON" and the like
  std::string target;  // the file written: the path itself, or the file its symbolic links lead to

  bool ok() const { return error.empty(); }
};

enum class Backup {
  kNone,  // no backup is made (one may already be kept)
  kMake,  // the file as it was before the write is kept as TARGET~, replacing an older backup
};

// The file a write to path reaches: path itself, or the file its chain of symbolic links leads to
// (which need not exist yet).
std::string write_target(const std::string& path);

// Where the backup of the file at path is kept: beside the target, its name followed by "~".
std::string backup_path(const std::string& path);

// Copies the file at path (its target) to its backup, with the file's mode, group and owner as
// described above, on the disk when this returns. An existing backup is replaced only once the
// copy is complete.
FileWriteResult keep_backup(const std::string& path);

// Takes the next bytes of a file's contents; throws when they cannot be written.
using FileBytesSink = std::function<void(std::span<const uint8_t>)>;
// Makes a file's contents, handing them to the sink in order, a piece at a time, so that a large
// file need never be held in memory whole.
using FileContent = std::function<void(const FileBytesSink&)>;

// Writes bytes as the new contents of the file at path (its target), creating it when it does not
// exist. With Backup::kMake and an existing file, the backup is made first and removed again when
// the write fails.
FileWriteResult write_back_file(const std::string& path, std::span<const uint8_t> bytes,
                                Backup backup);

// The same with the contents made as they are written: a file of one name takes them straight
// into its temporary file; one written in place (several names) takes them once they are all
// made. An exception from content itself leaves the file as it was, removes what the attempt
// made, and reaches the caller as it was thrown.
FileWriteResult write_back_file(const std::string& path, const FileContent& content, Backup backup);

}  // namespace tarvo
