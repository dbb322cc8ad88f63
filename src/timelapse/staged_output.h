#pragma once
// An output that appears whole or not at all. It is written under a temporary name beside its
// final place (".NAME.partial-XXXXXX" in the same folder, so the last step is a rename within one
// file system), and renamed to its name by commit(). Until then, and whenever the object is
// destroyed without a commit, nothing exists at the final name that this object made; discard()
// or the destructor removes the temporary.
//
// The output is a file, or a folder of files. An existing file at the final name is replaced by
// the commit; an existing folder is replaced only when it is empty, and a folder that holds
// anything is refused up front, so that no one's files are deleted.

#include <filesystem>
#include <string>

namespace tarvo {

class StagedOutput {
 public:
  enum class Kind { File, Folder };

  // Checks that target can be written and makes the empty temporary. Throws VideoError naming
  // target when its folder is missing or not a folder, when target is a folder where a file is
  // wanted (or a non-empty folder or a file where a folder is), or when the temporary cannot be
  // made there.
  StagedOutput(const std::filesystem::path& target, Kind kind);
  ~StagedOutput();
  StagedOutput(const StagedOutput&) = delete;
  StagedOutput& operator=(const StagedOutput&) = delete;

  const std::filesystem::path& temporary() const { return temporary_; }
  const std::filesystem::path& target() const { return target_; }

  // Renames the temporary to the target. Throws VideoError (the temporary removed) when it cannot.
  void commit();
  // Removes the temporary and everything in it; nothing is left at either name.
  void discard() noexcept;

 private:
  void check_target() const;
  void make_temporary();

  std::filesystem::path target_;
  std::string name_;  // the target as it was given, for messages
  Kind kind_;
  std::filesystem::path temporary_;  // empty once committed or discarded
};

}  // namespace tarvo
