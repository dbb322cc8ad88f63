// The write-back's file identity, tested as a user who is not root, since root ignores
// permissions. Run as root, the test makes a user and a group for itself (tarvo-file-test, a member
// of tarvo-artists), a scratch folder the user owns and a 256 KiB file system to fill, and runs
// itself again as that user.
#include "file/file_identity.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tarvo {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr const char* kUser = "tarvo-file-test";
constexpr const char* kGroup = "tarvo-artists";

Bytes bytes_of(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

std::string read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void make(const fs::path& path, const std::string& contents, mode_t mode) {
  std::ofstream(path, std::ios::binary) << contents;
  ASSERT_EQ(chmod(path.c_str(), mode), 0);
}

struct stat status_of(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
  return status;
}

std::vector<std::string> names_in(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

class FileIdentity : public testing::Test {
 protected:
  void SetUp() override {
    const char* scratch = std::getenv("TARVO_IDENTITY_SCRATCH");
    folder_ = fs::path(scratch ? scratch : fs::temp_directory_path().string()) /
              testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(folder_, ignored);
  }
  static bool as_root() { return geteuid() == 0; }

  fs::path folder_;
};

TEST_F(FileIdentity, HardLinksKeepTheirInodeAndAllSeeTheNewContents) {
  const fs::path a = folder_ / "a.png", b = folder_ / "b.png";
  make(a, "old", 0644);
  fs::create_hard_link(a, b);
  const ino_t inode = status_of(a).st_ino;
  const FileWriteResult result = write_back_file(a, bytes_of("new and longer"), Backup::kMake);
  ASSERT_TRUE(result.ok()) << result.error;
  EXPECT_EQ(status_of(a).st_ino, inode);
  EXPECT_EQ(read(b), "new and longer");
  EXPECT_EQ(read(folder_ / "a.png~"), "old");
  EXPECT_EQ(status_of(folder_ / "a.png~").st_nlink, 1u);
  ASSERT_TRUE(write_back_file(b, bytes_of("short"), Backup::kNone).ok());
  EXPECT_EQ(read(a), "short");
}

TEST_F(FileIdentity, ASymbolicLinkIsFollowedAndTheBackupGoesBesideItsTarget) {
  fs::create_directories(folder_ / "art");
  fs::create_directories(folder_ / "links");
  make(folder_ / "art/real.png", "old", 0644);
  fs::create_symlink("../art/real.png", folder_ / "links/link.png");
  const FileWriteResult result =
      write_back_file(folder_ / "links/link.png", bytes_of("new"), Backup::kMake);
  ASSERT_TRUE(result.ok()) << result.error;
  EXPECT_EQ(result.target, (folder_ / "links/../art/real.png").string());
  EXPECT_TRUE(fs::is_symlink(folder_ / "links/link.png"));
  EXPECT_EQ(read(folder_ / "art/real.png"), "new");
  EXPECT_EQ(read(folder_ / "art/real.png~"), "old");
  EXPECT_EQ(names_in(folder_ / "links"), std::vector<std::string>{"link.png"});
  EXPECT_EQ(backup_path(folder_ / "links/link.png"), (folder_ / "links/../art/real.png~").string());
}

TEST_F(FileIdentity, APrivateFileAndItsBackupStayPrivate) {
  const fs::path file = folder_ / "private.png";
  make(file, "old", 0600);
  make(folder_ / "private.png~", "older", 0644);  // a backup from before is replaced
  ASSERT_TRUE(write_back_file(file, bytes_of("new"), Backup::kMake).ok());
  EXPECT_EQ(status_of(file).st_mode & 07777, 0600u);
  EXPECT_EQ(status_of(folder_ / "private.png~").st_mode & 07777, 0600u);
  EXPECT_EQ(read(folder_ / "private.png~"), "old");
  EXPECT_EQ(names_in(folder_), (std::vector<std::string>{"private.png", "private.png~"}));
}

TEST_F(FileIdentity, AGroupTheUserIsInIsKeptWithItsPermissions) {
  const group* artists = getgrnam(kGroup);
  if (as_root() || artists == nullptr) GTEST_SKIP() << "needs a user in group " << kGroup;
  const fs::path file = folder_ / "shared.png";
  make(file, "old", 0640);
  ASSERT_EQ(chown(file.c_str(), static_cast<uid_t>(-1), artists->gr_gid), 0);
  ASSERT_NE(getegid(), artists->gr_gid) << "the group must not be the user's own";
  ASSERT_TRUE(write_back_file(file, bytes_of("new"), Backup::kMake).ok());
  for (const fs::path& path : {file, folder_ / "shared.png~"}) {
    EXPECT_EQ(status_of(path).st_gid, artists->gr_gid) << path;
    EXPECT_EQ(status_of(path).st_mode & 07777, 0640u) << path;
  }
}

TEST_F(FileIdentity, AFileTheUserMayNotWriteIsRefusedWithNoBackupLeft) {
  if (as_root()) GTEST_SKIP() << "root may write any file";
  const fs::path file = folder_ / "read-only.png";
  make(file, "old", 0444);
  const FileWriteResult result = write_back_file(file, bytes_of("new"), Backup::kMake);
  EXPECT_EQ(result.error, "cannot write " + file.string() + ": Permission denied");
  EXPECT_EQ(read(file), "old");
  EXPECT_EQ(names_in(folder_), std::vector<std::string>{"read-only.png"});

  // Its backup, made alone, is no more writable than the file.
  ASSERT_TRUE(keep_backup(file).ok());
  EXPECT_EQ(status_of(folder_ / "read-only.png~").st_mode & 07777, 0444u);

  // A file in a folder the user may not write cannot be replaced.
  const fs::path closed = folder_ / "closed";
  fs::create_directories(closed);
  make(closed / "file.png", "old", 0644);
  ASSERT_EQ(chmod(closed.c_str(), 0555), 0);
  const FileWriteResult refused =
      write_back_file(closed / "file.png", bytes_of("new"), Backup::kMake);
  EXPECT_NE(refused.error.find("Permission denied"), std::string::npos) << refused.error;
  EXPECT_EQ(names_in(closed), std::vector<std::string>{"file.png"});
}

TEST_F(FileIdentity, ANewFileTakesTheUmasksMode) {
  const mode_t old_mask = umask(027);
  const FileWriteResult result =
      write_back_file(folder_ / "new.png", bytes_of("new"), Backup::kMake);
  umask(old_mask);
  ASSERT_TRUE(result.ok()) << result.error;
  EXPECT_EQ(status_of(folder_ / "new.png").st_mode & 07777, 0640u);
  EXPECT_EQ(names_in(folder_), std::vector<std::string>{"new.png"});
}

// A full disk: a small file system that holds the file and its backup but not the new contents.
TEST_F(FileIdentity, AFullDiskLeavesTheFileAsItWasAndNothingElse) {
  const char* full = std::getenv("TARVO_IDENTITY_FULL");
  if (full == nullptr) GTEST_SKIP() << "needs a small file system (run the test as root)";
  const fs::path folder = full;
  const std::string old(16 * 1024, 'o');
  const Bytes big(400 * 1024, 'n');
  make(folder / "one.png", old, 0644);
  const FileWriteResult one = write_back_file(folder / "one.png", big, Backup::kMake);
  EXPECT_EQ(one.error,
            "cannot write " + (folder / "one.png").string() + ": No space left on device");
  EXPECT_EQ(read(folder / "one.png"), old);
  EXPECT_EQ(names_in(folder), std::vector<std::string>{"one.png"});

  fs::create_hard_link(folder / "one.png", folder / "two.png");
  const FileWriteResult linked = write_back_file(folder / "two.png", big, Backup::kMake);
  EXPECT_NE(linked.error.find("No space left on device"), std::string::npos) << linked.error;
  EXPECT_EQ(read(folder / "one.png"), old);
  EXPECT_EQ(names_in(folder), (std::vector<std::string>{"one.png", "two.png"}));
  fs::remove(folder / "one.png");
  fs::remove(folder / "two.png");
}

// Runs a command line through the shell; true when it succeeds.
bool run(const std::string& command) {
  return std::system(command.c_str()) == 0;
}

// As root: makes the user, group, scratch folder and small file system, and runs this test again
// as the user. Returns its exit status.
int run_as_test_user(int argc, char** argv) {
  const std::string user = kUser, group = kGroup;
  if (!run("getent group " + group + " >/dev/null || groupadd -r " + group) ||
      !run("id -u " + user + " >/dev/null 2>&1 || useradd -r -M -s /usr/sbin/nologin " + user) ||
      !run("usermod -a -G " + group + " " + user)) {
    std::cerr << "file_identity_tests: cannot make user " << user << "; testing as root\n";
    return -1;
  }
  char scratch_template[] = "/tmp/tarvo-identity-XXXXXX";
  const std::string scratch = mkdtemp(scratch_template);
  const std::string full = scratch + "/full", self = scratch + "/file_identity_tests";
  fs::create_directories(full);
  fs::copy_file("/proc/self/exe", self);
  chmod(scratch.c_str(), 0755);
  chmod(self.c_str(), 0755);
  const bool mounted = mount("tarvo-full", full.c_str(), "tmpfs", 0, "size=256k,mode=0755") == 0;
  if (!mounted) std::cerr << "file_identity_tests: cannot mount a small tmpfs; no full-disk test\n";
  run("chown " + user + " " + full + " && mkdir " + scratch + "/work && chown " + user + " " +
      scratch + "/work");
  std::string command = "runuser -u " + user + " -- env TARVO_IDENTITY_SCRATCH=" + scratch +
                        "/work" + (mounted ? " TARVO_IDENTITY_FULL=" + full : "") + " " + self;
  for (int i = 1; i < argc; ++i) command += std::string(" '") + argv[i] + "'";
  const int status = std::system(command.c_str());
  if (mounted) umount(full.c_str());
  fs::remove_all(scratch);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace
}  // namespace tarvo

int main(int argc, char** argv) {
  std::vector<char*> arguments(argv, argv + argc);  // for the run as the user, flags and all
  testing::InitGoogleTest(&argc, argv);
  const bool listing = testing::GTEST_FLAG(list_tests);
  if (geteuid() == 0 && !listing) {
    const int status =
        tarvo::run_as_test_user(static_cast<int>(arguments.size()), arguments.data());
    if (status >= 0) return status;
  }
  return RUN_ALL_TESTS();
}
