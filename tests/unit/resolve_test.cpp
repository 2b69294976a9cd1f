// Resolution's rules for names that others may have made, checked as a
// user who is not root, in a user namespace of the test's own where other
// owners have ids: another user's symbolic link leads only to what he owns,
// a sticky folder's links are followed only where they are this user's or
// the folder owner's, an entry with more than one name is used only from a
// folder written by its owner alone who is this user, root or the entry's
// owner, and a name of /proc only leads to a file that still has a name.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "files/files.h"

namespace {

constexpr uid_t kMe = 1000, kStranger = 1001;  // ids in the namespace; root is 0

// The ids of the namespace of pid: kMe for this process's own; where this
// process may map others (as root), root and kStranger as well, each for a
// host id nobody uses.
bool MapIds(pid_t pid, bool others) {
  const std::string at = "/proc/" + std::to_string(pid) + "/";
  const auto put = [&at](const char* file, const std::string& text) {
    return static_cast<bool>(std::ofstream(at + file) << text);
  };
  const auto map = [others](unsigned own) {
    return "1000 " + std::to_string(own) + " 1\n" + (others ? "0 200000 1\n1001 201001 1\n" : "");
  };
  return (others || put("setgroups", "deny")) && put("uid_map", map(geteuid())) &&
         put("gid_map", map(getegid()));
}

// Runs body(folder, others) in a child process in a user namespace of its
// own, as kMe, with every capability until body calls Unprivileged(); the
// folder is its own, and others says whether root and kStranger have ids.
// The child's failures are the test's.
void InUserNamespace(void (*body)(const std::string& folder, bool others)) {
  char folder[] = "/tmp/shortcut-resolve-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  int ready[2], go[2];
  ASSERT_EQ(pipe(ready) | pipe(go), 0);
  const bool others = geteuid() == 0;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  close(child == 0 ? ready[0] : ready[1]);
  close(child == 0 ? go[1] : go[0]);
  bool alone = false;
  if (child == 0) {  // on: once the parent has written the maps
    alone = unshare(CLONE_NEWUSER) == 0;
    if (write(ready[1], &alone, 1) != 1 || !alone || read(go[0], &alone, 1) != 1) _exit(77);
    body(folder, others);
    _exit(testing::Test::HasFailure() ? 1 : 0);
  }
  const bool mapped = read(ready[0], &alone, 1) == 1 && alone && MapIds(child, others);
  EXPECT_TRUE(!mapped || write(go[1], &alone, 1) == 1);
  close(ready[0]);
  close(go[1]);  // the child goes on, or ends
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_EQ(std::system(("rm -rf '" + std::string(folder) + "'").c_str()), 0);
  if (!mapped) GTEST_SKIP() << "no user namespace here";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child's failures are above";
}

// Gives up every capability the namespace gave: from now on this process
// is kMe and no more.
void Unprivileged() {
  __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct none[2] = {};
  ASSERT_EQ(syscall(SYS_capset, &header, none), 0);
}

// The folder's entries: a folder, a file, a symbolic link to Text, or a
// second name for the entry Text; each with its owner and mode, and what
// resolving it in the folder as a save does (kMade: only made).
constexpr DWORD kMade = ~DWORD{0};

struct Entry {
  const char* Name;
  char Kind;  // 'd', 'f', 's' or 'h'
  const char* Text;
  uid_t Owner;
  mode_t Mode;
  bool Others;  // made only where root and kStranger have ids
  DWORD Error;
};

const Entry kEntries[] = {
    {"mine.lnk", 'f', "", kMe, 0644, false, kMade},
    {"one.lnk", 'f', "", kMe, 0644, false, 0},  // two names, in this user's folder
    {"via-mine", 's', "mine.lnk", kMe, 0, false, 0},
    {"shared", 'd', "", kMe, 0775, false, kMade},
    // In a folder a group may write; a symbolic link's second name.
    {"shared/two.lnk", 'h', "one.lnk", kMe, 0, false, ERROR_NOT_SUPPORTED},
    {"shared/sym", 'h', "via-mine", kMe, 0, false, ERROR_NOT_SUPPORTED},
    {"theirs", 'd', "", kStranger, 0755, true, kMade},
    {"theirs/x.lnk", 'f', "", kStranger, 0644, true, kMade},
    {"theirs/name.lnk", 'h', "one.lnk", kMe, 0, true, ERROR_NOT_SUPPORTED},  // a stranger's folder
    {"roots", 'd', "", 0, 0755, true, kMade},
    {"roots/name.lnk", 'h', "one.lnk", kMe, 0, true, 0},
    {"via-stranger-to-mine", 's', "mine.lnk", kStranger, 0, true, ERROR_ACCESS_DENIED},
    {"via-stranger-to-theirs", 's', "theirs/x.lnk", kStranger, 0, true, 0},
    // A name that resolving would make in this user's folder.
    {"via-stranger-to-new", 's', "new.lnk", kStranger, 0, true, ERROR_ACCESS_DENIED},
    {"via-root-to-mine", 's', "mine.lnk", 0, 0, true, 0},
    {"sticky", 'd', "", 0, 01777, true, kMade},
    {"sticky/mine", 's', "../mine.lnk", kMe, 0, true, 0},
    {"sticky/stranger", 's', "../theirs/x.lnk", kStranger, 0, true, ERROR_ACCESS_DENIED},
    {"sticky/owner", 's', "../mine.lnk", 0, 0, true, 0},
};

TEST(Resolve, NamesOthersMayHaveMadeAsAUserWhoIsNotRoot) {
  InUserNamespace([](const std::string& folder, bool others) {
    ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
    for (const Entry& e : kEntries) {
      if (e.Others && !others) continue;
      const std::string path = folder + "/" + e.Name, text = folder + "/" + e.Text;
      const bool made = e.Kind == 'd'   ? mkdir(path.c_str(), e.Mode) == 0
                        : e.Kind == 'f' ? close(open(path.c_str(), O_CREAT | O_WRONLY, e.Mode)) == 0
                        : e.Kind == 's' ? symlink(e.Text, path.c_str()) == 0
                                        : link(text.c_str(), path.c_str()) == 0;
      ASSERT_TRUE(made) << e.Name;
      EXPECT_TRUE(e.Kind == 'h' || lchown(path.c_str(), e.Owner, e.Owner) == 0) << e.Name;
      EXPECT_TRUE(e.Kind != 'd' || chmod(path.c_str(), e.Mode) == 0) << e.Name;
    }
    // A name of /proc for a file that has no name any more (/proc's own
    // links are root's, who has an id here only where others do).
    const int gone = open((folder + "/gone.lnk").c_str(), O_CREAT | O_RDONLY, 0644);
    ASSERT_EQ(unlink((folder + "/gone.lnk").c_str()), 0);
    Unprivileged();
    ASSERT_EQ(geteuid(), kMe);
    const auto find = [](const std::string& path) {
      portable::HeldFile found;
      return portable::FindPlace(path.c_str(), portable::kFindNonexistent, &found);
    };
    for (const Entry& e : kEntries) {
      if (e.Error == kMade || (e.Others && !others)) continue;
      EXPECT_EQ(find(folder + "/" + e.Name), e.Error) << e.Name;
    }
    if (others) {
      EXPECT_EQ(find("/proc/self/fd/" + std::to_string(gone)), DWORD{ERROR_FILE_NOT_FOUND});
    }
  });
}

}  // namespace
