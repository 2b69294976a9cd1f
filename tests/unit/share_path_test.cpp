// Share paths taken apart and made into the library's URLs, and credentials
// files read as mount.cifs and smbclient -A read them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "smb/smb_internal.h"

namespace {

using portable::smb::Credentials;
using portable::smb::MakeUrl;
using portable::smb::ParseSharePath;
using portable::smb::SharePath;
using portable::smb::UrlPart;

struct PathCase {
  const char* Path;
  const char* File;    // the file's URL
  const char* Folder;  // the folder's URL
};

const PathCase kPathCases[] = {
    {"\\\\server\\share\\dir\\name.lnk", "smb://server/share/dir/name.lnk",
     "smb://server/share/dir"},
    {"\\\\server\\share/a/b\\name.lnk", "smb://server/share/a/b/name.lnk",
     "smb://server/share/a/b"},
    {"\\\\server\\share\\\\dir\\.\\x\\..\\name.lnk", "smb://server/share/dir/name.lnk",
     "smb://server/share/dir"},
    {"\\\\10.0.0.1\\Public\\Desktop\\My Links\\100% ok&.lnk",
     "smb://10.0.0.1/Public/Desktop/My%20Links/100%25%20ok%26.lnk",
     "smb://10.0.0.1/Public/Desktop/My%20Links"},
    {"smb://server:4450/share/name.lnk", "smb://server:4450/share/name.lnk",
     "smb://server:4450/share"},
    {"SMB://server/share/My%20Links/a%25b.lnk", "smb://server/share/My%20Links/a%25b.lnk",
     "smb://server/share/My%20Links"},
    {"smb://server/share/a%zzb.lnk", "smb://server/share/a%25zzb.lnk", "smb://server/share"},
    {"smb://[fe80::1]:445/share/x.lnk", "smb://[fe80::1]:445/share/x.lnk",
     "smb://[fe80::1]:445/share"},
    {"smb://server/share/caf\xc3\xa9.lnk", "smb://server/share/caf%C3%A9.lnk",
     "smb://server/share"},
    // As Windows reads a path: '..' no higher than the share, trailing dots
    // and spaces dropped (one dot from a folder's name); the long form as
    // it stands.
    {"\\\\server\\share\\..\\..\\a.lnk", "smb://server/share/a.lnk", "smb://server/share"},
    {"\\\\server\\share\\dir.\\...\\trail.lnk. .", "smb://server/share/dir/.../trail.lnk",
     "smb://server/share/dir/..."},
    {"\\\\?\\UNC\\server\\share\\dir\\a.lnk", "smb://server/share/dir/a.lnk",
     "smb://server/share/dir"},
    {"\\\\?\\unc\\server\\share\\trail.lnk.", "smb://server/share/trail.lnk.",
     "smb://server/share"},
};

// Paths refused as bad names (123).
const char* const kBadPaths[] = {
    // The long form other than as it stands; a name of dots alone.
    "\\\\?\\UNC\\server\\share\\..\\a.lnk", "\\\\?\\UNC\\server\\share/a.lnk",
    "\\\\?\\server\\share\\a.lnk", "\\\\server\\share\\...",
    // Any byte that is not UTF-8, raw or escaped.
    "\\\\server\\share\\caf\xe9.lnk", "\\\\server\\sh\xc3re\\x.lnk", "smb://server/share/a%FFb.lnk",
    "smb://server/share/a%C3%28.lnk",
    // Names of nothing on a share.
    "\\\\server", "\\\\server\\share", "\\\\server\\share\\", "\\\\\\share\\x.lnk",
    "\\\\server\\..\\x.lnk", "\\\\ser@ver\\share\\x.lnk", "smb://user@server/share/x.lnk",
    "smb://dom;user:pw@server/share/x.lnk", "smb://server/share/x.lnk?debug=10",
    "smb://server/share/x.lnk#top", "smb://server:/share/x.lnk", "smb://server:0/share/x.lnk",
    "smb://server:65536/share/x.lnk", "smb://server:44x/share/x.lnk",
    "smb://server/share/a%2Fb.lnk", "smb://server/share/a%00b.lnk", "smb://server/share/a%1Bb.lnk",
    "\\\\server\\share\\a\nb.lnk", "\\\\server\\sh\x01re\\x.lnk", "\\\\.\\pipe\\x.lnk",
    "smb://../share/x.lnk", "\\\\server\\share\\*.lnk", "\\\\server\\share\\a?b\\x.lnk",
    "smb://server/share/a%3Cb%3E.lnk", "smb://server/share/a%7Cb%22.lnk",
};

TEST(SharePath, EachFormTakenApartAndMadeIntoUrls) {
  for (const PathCase& c : kPathCases) {
    SCOPED_TRACE(c.Path);
    SharePath path;
    ASSERT_EQ(ParseSharePath(c.Path, &path), 0u);
    char url[portable::smb::kMaxUrl];
    ASSERT_TRUE(MakeUrl(path, UrlPart::File, url));
    EXPECT_STREQ(url, c.File);
    ASSERT_TRUE(MakeUrl(path, UrlPart::Folder, url));
    EXPECT_STREQ(url, c.Folder);
  }
  for (const char* bad : kBadPaths) {
    SharePath path;
    EXPECT_EQ(ParseSharePath(bad, &path), DWORD{ERROR_INVALID_NAME}) << bad;
  }
}

// Names as long as Windows allows (255 UTF-16 units), in any script, and
// one unit longer.
struct LongNameCase {
  const char* Character;
  std::size_t Count;
  DWORD Error;
};

const LongNameCase kLongNameCases[] = {
    {"a", 255, 0},
    {"a", 256, ERROR_INVALID_NAME},
    {"\xe6\x97\xa5", 255, 0},  // 765 bytes of UTF-8
    {"\xe6\x97\xa5", 256, ERROR_INVALID_NAME},
    {"\xf0\x9f\x98\x80", 127, 0},  // two units each
    {"\xf0\x9f\x98\x80", 128, ERROR_INVALID_NAME},
};

TEST(SharePath, LongNamesInAnyScript) {
  for (const LongNameCase& c : kLongNameCases) {
    std::string name;
    for (std::size_t i = 0; i < c.Count; ++i) name += c.Character;
    SCOPED_TRACE(c.Count);
    for (const std::string& form : {"\\\\server\\" + name + "\\" + name,
                                    "smb://server/" + name + "/" + name}) {
      SharePath path;
      ASSERT_EQ(ParseSharePath(form.c_str(), &path), c.Error);
      if (c.Error != 0) continue;
      EXPECT_EQ(name, path.Share);
      EXPECT_EQ(name, path.Name);
      char url[portable::smb::kMaxUrl];
      EXPECT_TRUE(MakeUrl(path, UrlPart::File, url));
    }
  }
}

TEST(SharePath, OnlyTheTwoFormsAreShares) {
  EXPECT_TRUE(portable::smb::IsSharePath("\\\\s\\x\\y"));
  EXPECT_TRUE(portable::smb::IsSharePath("smb://s/x/y"));
  for (const char* local : {"x.lnk", "/srv/share/x.lnk", "//server/share/x.lnk", "smb:x.lnk",
                            "\\x.lnk", "C:\\x.lnk", ""})
    EXPECT_FALSE(portable::smb::IsSharePath(local)) << local;
}

// An errno as a Win32 number: from a call on a local file, from the
// library's request on a share, and from a second request of the library
// that needs only one part.  A failure with no better word is 31, never a
// refusal of access (5) or a bad name (123); each number has a text.
struct ErrnoCase {
  int Errno;
  DWORD Local;   // a call on a local file
  DWORD File;    // the library's request on the file
  DWORD Logon;   // the server's list of shares (0: says nothing more)
  DWORD Share;   // the share
  DWORD Folder;  // the folder
};

const ErrnoCase kErrnoCases[] = {
    {EBUSY, ERROR_BUSY, ERROR_SHARING_VIOLATION, 0, 0, 0},
    {EACCES, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, ERROR_LOGON_FAILURE, ERROR_ACCESS_DENIED,
     ERROR_ACCESS_DENIED},
    {EPERM, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, ERROR_LOGON_FAILURE, ERROR_ACCESS_DENIED,
     ERROR_ACCESS_DENIED},
    {EISDIR, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, 0, 0, 0},
    {EROFS, ERROR_WRITE_PROTECT, ERROR_ACCESS_DENIED, 0, 0, 0},
    {ENOENT, ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND, ERROR_BAD_NETPATH, ERROR_BAD_NET_NAME,
     ERROR_PATH_NOT_FOUND},
    {EINVAL, ERROR_INVALID_PARAMETER, ERROR_GEN_FAILURE, ERROR_BAD_NETPATH, 0, 0},
    {ECONNREFUSED, ERROR_UNEXP_NET_ERR, ERROR_BAD_NETPATH, ERROR_BAD_NETPATH, ERROR_BAD_NETPATH,
     ERROR_BAD_NETPATH},
    {ETIMEDOUT, ERROR_TIMEOUT, ERROR_BAD_NETPATH, ERROR_BAD_NETPATH, ERROR_BAD_NETPATH,
     ERROR_BAD_NETPATH},
    {ENETRESET, ERROR_UNEXP_NET_ERR, ERROR_UNEXP_NET_ERR, ERROR_UNEXP_NET_ERR,
     ERROR_UNEXP_NET_ERR, ERROR_UNEXP_NET_ERR},
    {EWOULDBLOCK, ERROR_SHARING_VIOLATION, ERROR_GEN_FAILURE, 0, 0, 0},  // a lease, locally
    {ETXTBSY, ERROR_SHARING_VIOLATION, ERROR_GEN_FAILURE, 0, 0, 0},
    {EXDEV, ERROR_NOT_SAME_DEVICE, ERROR_GEN_FAILURE, 0, 0, 0},
    {ENOSYS, ERROR_CALL_NOT_IMPLEMENTED, ERROR_GEN_FAILURE, 0, 0, 0},
    {ESTALE, ERROR_FILE_INVALID, ERROR_GEN_FAILURE, 0, 0, 0},
    {EUCLEAN, ERROR_DISK_CORRUPT, ERROR_GEN_FAILURE, 0, 0, 0},
    {ENOKEY, ERROR_FILE_ENCRYPTED, ERROR_GEN_FAILURE, 0, 0, 0},
    {EINTR, ERROR_OPERATION_ABORTED, ERROR_GEN_FAILURE, 0, 0, 0},
    {0, ERROR_GEN_FAILURE, ERROR_GEN_FAILURE, 0, 0, 0},
    {4095, ERROR_GEN_FAILURE, ERROR_GEN_FAILURE, 0, 0, 0},
};

TEST(SharePath, ErrorsAsWin32) {
  using portable::ErrnoFrom;
  using portable::smb::Probe;
  for (const ErrnoCase& c : kErrnoCases) {
    SCOPED_TRACE(c.Errno);
    EXPECT_EQ(portable::Win32FromErrno(c.Errno, ErrnoFrom::LocalFile), c.Local);
    EXPECT_EQ(portable::Win32FromErrno(c.Errno, ErrnoFrom::Library), c.File);
    EXPECT_EQ(portable::smb::ProbeError(Probe::Logon, c.Errno), c.Logon);
    EXPECT_EQ(portable::smb::ProbeError(Probe::Share, c.Errno), c.Share);
    EXPECT_EQ(portable::smb::ProbeError(Probe::Folder, c.Errno), c.Folder);
    for (const DWORD id : {c.Local, c.File}) {
      char text[256];
      EXPECT_GT(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                               id, 0, text, sizeof text, nullptr),
                0u)
          << id;
    }
  }
}

// What the library's messages say, written to standard output while it is
// diverted: the last NT status they name, and the DFS target it could not
// reach.
struct WordsCase {
  const char* Text;
  DWORD Status;
  const char* Referral;
};

const WordsCase kWordsCases[] = {
    {"session setup failed: NT_STATUS_LOGON_FAILURE\n"
     "Unable to follow dfs referral [\\files.example\\share]\nCould not resolve \\a\\b\n",
     ERROR_LOGON_FAILURE, "files.example"},
    {"Connection to gone failed (Error NT_STATUS_CONNECTION_REFUSED)\n", ERROR_BAD_NETPATH, ""},
    {"Unable to follow dfs referral [\\gone\\share]\n", 0, "gone"},
    {"NT_STATUS_ACCESS_DENIED then NT_STATUS_BAD_NETWORK_NAME", ERROR_BAD_NET_NAME, ""},
    {"xNT_STATUS_LOGON_FAILURE NT_STATUS_NO_MEMORY NT_STATUS_", 0, ""},
    {"Unable to follow dfs referral [\\no-share]\n", 0, ""},
    // Named by the referring server: no user, port or options for the probe,
    // and a target that cannot be reached.
    {"Unable to follow dfs referral [\\x@evil.example:4450\\share]\n", ERROR_BAD_NETPATH, ""},
};

TEST(SharePath, LibraryWordsRead) {
  for (const WordsCase& c : kWordsCases) {
    SCOPED_TRACE(c.Text);
    portable::smb::DivertOutput();
    std::printf("%s", c.Text);
    portable::smb::LibraryWords words;
    portable::smb::DivertedWords(&words);
    portable::smb::RestoreOutput();
    EXPECT_EQ(words.Status, c.Status);
    EXPECT_STREQ(words.Referral, c.Referral);
  }
}

struct CredentialsCase {
  const char* Text;
  bool Good;
  const char* User;
  const char* Password;
  const char* Domain;
};

const CredentialsCase kCredentialsCases[] = {
    {"username=ann\npassword=s3cret\n", true, "ann", "s3cret", ""},
    {"username = ann\r\npassword = s3cret x \r\ndomain = ZELVO\r\n", true, "ann", "s3cret x ",
     "ZELVO"},
    {"user=ann\npass=a=b#c\ndom=ZELVO", true, "ann", "a=b#c", "ZELVO"},
    {"# a comment\n\n  username=ann\nworkgroup=W\n", true, "ann", "", "W"},
    {"password=s3cret\n", false, nullptr, nullptr, nullptr},
    {"username=ann\nsecret=s3cret\n", false, nullptr, nullptr, nullptr},
    {"username ann\n", false, nullptr, nullptr, nullptr},
};

TEST(SharePath, CredentialsFiles) {
  for (const CredentialsCase& c : kCredentialsCases) {
    SCOPED_TRACE(c.Text);
    Credentials credentials;
    ASSERT_EQ(portable::smb::ParseCredentials(c.Text, std::strlen(c.Text), &credentials), c.Good);
    if (!c.Good) continue;
    EXPECT_STREQ(credentials.User, c.User);
    EXPECT_STREQ(credentials.Password, c.Password);
    EXPECT_STREQ(credentials.Domain, c.Domain);
  }
}

// A folder of its own for files a test makes, and the environment variables
// it sets put back as they were.
class Scratch {
 public:
  Scratch() {
    char folder[] = "/tmp/share_path_test.XXXXXX";
    folder_ = mkdtemp(folder);
    for (const char* name : kVariables) {
      const char* value = std::getenv(name);
      saved_.emplace_back(value != nullptr, value != nullptr ? value : "");
    }
  }
  ~Scratch() {
    for (std::size_t i = 0; i < std::size(kVariables); ++i)
      if (saved_[i].first) setenv(kVariables[i], saved_[i].second.c_str(), 1);
      else unsetenv(kVariables[i]);
    (void)std::system(("rm -rf '" + folder_ + "'").c_str());
  }
  const std::string& Folder() const { return folder_; }
  std::string Path(const char* name) const { return folder_ + "/" + name; }
  std::string Write(const char* name, const char* text, mode_t mode) const {
    const std::string path = Path(name);
    FILE* file = std::fopen(path.c_str(), "w");
    std::fputs(text, file);
    std::fclose(file);
    chmod(path.c_str(), mode);
    return path;
  }

 private:
  static constexpr const char* kVariables[] = {"KRB5CCNAME", "SHORTCUT_SMB_CREDENTIALS"};
  std::string folder_;
  std::vector<std::pair<bool, std::string>> saved_;
};

// A ticket cache that gives no ticket for the server falls through to the
// credentials file: a junk, empty or missing file, an empty memory cache, a
// KCM cache nobody serves, an empty folder.  (A usable ticket is tried
// against a real domain controller by tests/samba/domain_test.py.)  "@"
// stands for the scratch folder.
const char* const kUnusableCaches[] = {
    "@/junk", "FILE:@/junk", "@/empty", "@/missing", "FILE:@/missing", "MEMORY:x", "KCM:",
    "DIR:@",
};

TEST(SharePath, UnusableTicketCacheFallsThrough) {
  Scratch scratch;
  scratch.Write("junk", "\x05\x04 a ticket", 0600);
  scratch.Write("empty", "", 0600);
  const std::string file = scratch.Write("credentials", "username=ann\n", 0600);
  setenv("SHORTCUT_SMB_CREDENTIALS", file.c_str(), 1);
  for (const char* cache : kUnusableCaches) {
    SCOPED_TRACE(cache);
    std::string value = cache;
    if (const std::size_t at = value.find('@'); at != std::string::npos)
      value.replace(at, 1, scratch.Folder());
    setenv("KRB5CCNAME", value.c_str(), 1);
    Credentials credentials;
    ASSERT_EQ(portable::smb::FindCredentials("files.example.test", &credentials), 0u);
    EXPECT_FALSE(credentials.Kerberos);
    EXPECT_TRUE(credentials.FromFile);
  }
}

// The credentials file is judged by the file opened: only a regular file
// that no one else may read or change, reached by any name.
struct FileCase {
  const char* Name;
  DWORD Error;
};

const FileCase kFileCases[] = {
    {"private", 0},  {"link-to-private", 0},       {"group-readable", ERROR_BAD_ENVIRONMENT},
    {"world-writable", ERROR_BAD_ENVIRONMENT},     {"fifo", ERROR_BAD_ENVIRONMENT},
    {"missing", ERROR_BAD_ENVIRONMENT},            {"no-user", ERROR_BAD_ENVIRONMENT},
    {"", 0},
};

TEST(SharePath, CredentialsFileRefusedUnlessPrivate) {
  Scratch scratch;
  const char* text = "username=ann\npassword=s3cret\n";
  scratch.Write("private", text, 0600);
  symlink(scratch.Path("private").c_str(), scratch.Path("link-to-private").c_str());
  scratch.Write("group-readable", text, 0640);
  scratch.Write("world-writable", text, 0602);
  mkfifo(scratch.Path("fifo").c_str(), 0600);
  scratch.Write("no-user", "password=s3cret\n", 0600);
  setenv("KRB5CCNAME", scratch.Path("missing").c_str(), 1);
  for (const FileCase& c : kFileCases) {
    SCOPED_TRACE(c.Name);
    setenv("SHORTCUT_SMB_CREDENTIALS", c.Name[0] != '\0' ? scratch.Path(c.Name).c_str() : "", 1);
    Credentials credentials;
    ASSERT_EQ(portable::smb::FindCredentials("10.0.0.1", &credentials), c.Error);
    // A file refused leaves no password behind; none named means a guest.
    EXPECT_STREQ(credentials.Password, c.Error == 0 && c.Name[0] != '\0' ? "s3cret" : "");
    EXPECT_EQ(credentials.FromFile, c.Error == 0 && c.Name[0] != '\0');
  }
}

}  // namespace
