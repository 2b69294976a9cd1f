// Reading and replacing link files on Linux: which files are used, what a
// save keeps of the file it replaces, and that it leaves nothing behind.
// Every save case runs three ways: with unnamed new files (O_TMPFILE), with
// named ones (the way of file systems that lack them), and rewriting the old
// file in place (the way of users who are not root).
#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "internal.h"

namespace {

using Names = std::vector<std::string>;

class FileIo : public testing::TestWithParam<portable::SaveWay> {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/shortcut-fileio-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    previous_ = portable::UseSaveWay(GetParam());
  }
  void TearDown() override {
    portable::UseSaveWay(previous_);
    ASSERT_EQ(std::system(("chmod -R u+w '" + dir_ + "'; rm -rf '" + dir_ + "'").c_str()), 0);
  }
  std::string At(const std::string& name) { return dir_ + "/" + name; }
  DWORD Save(const std::string& name, const std::string& content) {
    return portable::WriteFileReplacing(At(name).c_str(),
                                        reinterpret_cast<const uint8_t*>(content.data()),
                                        content.size());
  }
  DWORD Load(const std::string& name, std::string* content = nullptr) {
    static uint8_t buffer[4096];
    std::size_t size = 0;
    DWORD error = portable::ReadWholeFile(At(name).c_str(), buffer, sizeof buffer, &size);
    if (content != nullptr) content->assign(reinterpret_cast<char*>(buffer), size);
    return error;
  }
  std::string Content(const std::string& name) {
    std::string content;
    EXPECT_EQ(Load(name, &content), 0u) << name;
    return content;
  }
  // Every entry of the folder and its subfolders, hidden ones included.
  Names Entries(const std::string& sub = "") {
    Names names;
    DIR* d = opendir(At(sub).c_str());
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      names.push_back(sub + name);
      if (e->d_type == DT_DIR)
        for (const std::string& inner : Entries(sub + name + "/")) names.push_back(inner);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string dir_;
  portable::SaveWay previous_ = portable::SaveWay::Unnamed;
};

// The inode flags of the file at path (chattr), 0 where there are none.
int FlagsAt(const std::string& path) {
  int flags = 0;
  const int fd = open(path.c_str(), O_RDONLY);
  if (ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) flags = 0;
  close(fd);
  return flags;
}

void MakeSocket(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(fd);
}

TEST_P(FileIo, OnlyRegularFilesAreReadOrReplaced) {
  struct Case {
    const char* Name;
    mode_t Kind;  // what the entry the name leads to is, before and after
    DWORD Error;
  };
  const Case cases[] = {
      {"folder.lnk", S_IFDIR, ERROR_ACCESS_DENIED},
      {"fifo.lnk", S_IFIFO, ERROR_BAD_FILE_TYPE},
      {"socket.lnk", S_IFSOCK, ERROR_BAD_FILE_TYPE},
      {"null.lnk", S_IFCHR, ERROR_BAD_FILE_TYPE},  // a symbolic link to /dev/null
  };
  ASSERT_EQ(mkdir(At("folder.lnk").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo(At("fifo.lnk").c_str(), 0644), 0);
  MakeSocket(At("socket.lnk"));
  ASSERT_EQ(symlink("/dev/null", At("null.lnk").c_str()), 0);
  const Names before = Entries();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(Load(c.Name), c.Error);
    EXPECT_EQ(Save(c.Name, "new"), c.Error);
    struct stat st;
    ASSERT_EQ(stat(At(c.Name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & S_IFMT, c.Kind);
  }
  EXPECT_EQ(Entries(), before);
}

TEST_P(FileIo, SymbolicLinksAreFollowedToTheFileTheyName) {
  struct Case {
    const char* Link;
    std::string Target;  // what the symbolic link holds
    const char* File;    // the file that gets the new contents
  };
  ASSERT_EQ(mkdir(At("sub").c_str(), 0755), 0);
  const Case cases[] = {
      {"relative.lnk", "real.lnk", "real.lnk"},
      {"absolute.lnk", At("sub/real.lnk"), "sub/real.lnk"},
      {"chain.lnk", "relative.lnk", "real.lnk"},
      {"sub/up.lnk", "../real.lnk", "real.lnk"},
      {"dangling.lnk", "sub/new.lnk", "sub/new.lnk"},
  };
  ASSERT_EQ(Save("real.lnk", "old"), 0u);
  ASSERT_EQ(Save("sub/real.lnk", "old"), 0u);
  for (const Case& c : cases) ASSERT_EQ(symlink(c.Target.c_str(), At(c.Link).c_str()), 0);
  const Names before = Entries();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Link);
    const std::string content = std::string("new through ") + c.Link;
    ASSERT_EQ(Save(c.Link, content), 0u);
    EXPECT_EQ(Content(c.File), content);
    EXPECT_EQ(Content(c.Link), content);
    struct stat st;
    ASSERT_EQ(lstat(At(c.Link).c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
  }
  Names expected = before;
  expected.push_back("sub/new.lnk");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Entries(), expected);

  ASSERT_EQ(symlink("loop-b.lnk", At("loop-a.lnk").c_str()), 0);
  ASSERT_EQ(symlink("loop-a.lnk", At("loop-b.lnk").c_str()), 0);
  EXPECT_EQ(Save("loop-a.lnk", "x"), static_cast<DWORD>(ERROR_CANT_RESOLVE_FILENAME));
}

TEST_P(FileIo, ASaveKeepsOwnerGroupAndModeOrIsRefused) {
  struct Case {
    const char* Name;
    mode_t Mode;
    bool Foreign;   // owned by nobody (only where the test runs as root)
    bool HardLink;  // with a second name
    int Flags;      // inode flags (chattr), where the file system keeps them
    bool Writer;    // another program has it open for writing, and writes after the save
    DWORD Error;
  };
  const bool root = geteuid() == 0;
  const Case cases[] = {
      {"private.lnk", 0600, false, false, 0, false, 0},
      {"shared.lnk", 02664, false, false, 0, false, 0},
      {"foreign.lnk", 0600, root, false, 0, false, 0},
      {"write-only.lnk", 0200, false, false, 0, false, root ? 0u : ERROR_ACCESS_DENIED},  // no copy
      {"read-only.lnk", 0444, false, false, 0, false, ERROR_ACCESS_DENIED},
      {"owner-read-only.lnk", 0464, false, false, 0, false, root ? 0u : ERROR_ACCESS_DENIED},
      {"two-names.lnk", 0644, false, true, 0, false, 0},  // rewritten, so both names see it
      {"theirs-two-names.lnk", 0644, root, true, 0, false, 0},  // in a folder only its owner writes
      {"flagged.lnk", 0644, false, false, FS_NODUMP_FL | FS_NOATIME_FL, false, 0},
      // Written in place, so that the program's write lands in the link; where a write would
      // clear a bit, refused as in use.
      {"open.lnk", 0644, false, false, 0, true, 0},
      {"set-uid-open.lnk", 04644, false, false, 0, true, root ? 0u : ERROR_SHARING_VIOLATION},
  };
  int writers[std::size(cases)];
  for (const Case& c : cases) {
    ASSERT_EQ(Save(c.Name, "old"), 0u);
    if (c.Foreign) {
      ASSERT_EQ(chown(At(c.Name).c_str(), 65534, 65534), 0);
    }
    ASSERT_EQ(chmod(At(c.Name).c_str(), c.Mode), 0);
    if (c.HardLink) {
      ASSERT_EQ(link(At(c.Name).c_str(), At(std::string(c.Name) + ".other").c_str()), 0);
    }
    int flags = FlagsAt(At(c.Name)) | c.Flags, fd = open(At(c.Name).c_str(), O_RDONLY);
    (void)ioctl(fd, FS_IOC_SETFLAGS, &flags);
    close(fd);
    writers[&c - cases] = c.Writer ? open(At(c.Name).c_str(), O_WRONLY) : -1;
  }
  const Names before = Entries();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    struct stat old, now;
    ASSERT_EQ(stat(At(c.Name).c_str(), &old), 0);
    const int flags = FlagsAt(At(c.Name));
    EXPECT_EQ(Save(c.Name, "new"), c.Error);
    EXPECT_EQ(FlagsAt(At(c.Name)), flags);
    ASSERT_EQ(stat(At(c.Name).c_str(), &now), 0);
    EXPECT_EQ(now.st_mode, old.st_mode);
    EXPECT_EQ(now.st_uid, old.st_uid);
    EXPECT_EQ(now.st_gid, old.st_gid);
    EXPECT_EQ(now.st_nlink, old.st_nlink);
    if ((now.st_mode & S_IRUSR) != 0 || root) {
      EXPECT_EQ(Content(c.Name), c.Error == 0 ? "new" : "old");
    }
    if (const int fd = writers[&c - cases]; fd >= 0) {
      ASSERT_EQ(pwrite(fd, "theirs", 6, 0), 6);
      close(fd);
      EXPECT_EQ(Content(c.Name), "theirs");
    }
  }
  EXPECT_EQ(Entries(), before);
}

// A save succeeds only over the bytes it read: a change of the same size
// with the same time (as on a file system of 1-second times) is refused
// with 32 and kept; an unchanged file, even one touched, is saved.
TEST_P(FileIo, ASaveSucceedsOnlyOverTheBytesItRead) {
  const struct {
    const char* Now;  // what the file holds at the save, with its old times
    DWORD Error;
  } cases[] = {{"old", 0}, {"odd", ERROR_SHARING_VIOLATION}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Now);
    ASSERT_EQ(Save("app.lnk", "old"), 0u);
    portable::HeldFile held;
    uint8_t buffer[16];
    std::size_t size = 0;
    ASSERT_EQ(portable::ReadWholeFile(At("app.lnk").c_str(), buffer, sizeof buffer, &size, &held),
              0u);
    struct stat read;
    ASSERT_EQ(stat(At("app.lnk").c_str(), &read), 0);
    std::ofstream(At("app.lnk"), std::ios::binary | std::ios::in) << c.Now;  // in place
    const struct timespec times[] = {read.st_atim, read.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, At("app.lnk").c_str(), times, 0), 0);
    EXPECT_EQ(portable::WriteFileReplacing(At("app.lnk").c_str(),
                                           reinterpret_cast<const uint8_t*>("new"), 3, &held),
              c.Error);
    EXPECT_EQ(Content("app.lnk"), c.Error == 0 ? "new" : c.Now);
    EXPECT_EQ(Entries(), Names{"app.lnk"});
  }
}

TEST_P(FileIo, FailedSavesLeaveTheOldFileAndNothingElse) {
  ASSERT_EQ(Save("keep.lnk", "old"), 0u);
  const std::string longest(251, 'n');
  EXPECT_EQ(Save(longest + ".lnk", "255 bytes"), 0u);
  EXPECT_EQ(Save(longest + "x.lnk", "256 bytes"), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_EQ(Save("missing/x.lnk", "x"), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(Save("keep.lnk/x.lnk", "x"), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(Save("sub/", "x"), static_cast<DWORD>(ERROR_INVALID_NAME));

  // A write past the file size limit fails as a write, and the process lives.
  rlimit limit;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
  rlimit none = limit;
  none.rlim_cur = 0;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &none), 0);
  const DWORD tooLarge = Save("keep.lnk", "new");
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  EXPECT_EQ(tooLarge, static_cast<DWORD>(ERROR_FILE_TOO_LARGE));

  // A folder this user may not write: no new link there, but a link it may
  // write is written in place (root may write any folder).
  ASSERT_EQ(chmod(dir_.c_str(), 0555), 0);
  EXPECT_EQ(Save("new.lnk", "new"), geteuid() == 0 ? 0u : ERROR_ACCESS_DENIED);
  EXPECT_EQ(Save("keep.lnk", "new"), 0u);
  ASSERT_EQ(chmod(dir_.c_str(), 0700), 0);
  if (geteuid() == 0) {
    ASSERT_EQ(unlink(At("new.lnk").c_str()), 0);
  }

  EXPECT_EQ(Content("keep.lnk"), "new");
  EXPECT_EQ(Entries(), (Names{"keep.lnk", longest + ".lnk"}));
}

INSTANTIATE_TEST_SUITE_P(Unnamed, FileIo, testing::Values(portable::SaveWay::Unnamed));
INSTANTIATE_TEST_SUITE_P(Named, FileIo, testing::Values(portable::SaveWay::Named));
INSTANTIATE_TEST_SUITE_P(InPlace, FileIo, testing::Values(portable::SaveWay::InPlace));

}  // namespace
