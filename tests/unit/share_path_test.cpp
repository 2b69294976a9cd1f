// Share paths taken apart and made into the library's URLs, and credentials
// files read as mount.cifs and smbclient -A read them.
#include <gtest/gtest.h>

#include <cstring>

#include "smb/smb_internal.h"

namespace {

using portable::smb::Credentials;
using portable::smb::MakeUrl;
using portable::smb::ParseSharePath;
using portable::smb::SharePath;
using portable::smb::UrlPart;

struct PathCase {
  const char* Path;
  DWORD Error;
  const char* File;    // the file's URL
  const char* Folder;  // the folder's URL
};

const PathCase kPathCases[] = {
    {"\\\\server\\share\\dir\\name.lnk", 0, "smb://server/share/dir/name.lnk",
     "smb://server/share/dir"},
    {"\\\\server\\share/a/b\\name.lnk", 0, "smb://server/share/a/b/name.lnk",
     "smb://server/share/a/b"},
    {"\\\\server\\share\\\\dir\\.\\x\\..\\name.lnk", 0, "smb://server/share/dir/name.lnk",
     "smb://server/share/dir"},
    {"\\\\10.0.0.1\\Public\\Desktop\\My Links\\100% ok?.lnk", 0,
     "smb://10.0.0.1/Public/Desktop/My%20Links/100%25%20ok%3F.lnk",
     "smb://10.0.0.1/Public/Desktop/My%20Links"},
    {"smb://server:4450/share/name.lnk", 0, "smb://server:4450/share/name.lnk",
     "smb://server:4450/share"},
    {"SMB://server/share/My%20Links/a%25b.lnk", 0, "smb://server/share/My%20Links/a%25b.lnk",
     "smb://server/share/My%20Links"},
    {"smb://server/share/a%zzb.lnk", 0, "smb://server/share/a%25zzb.lnk", "smb://server/share"},
    {"smb://[fe80::1]:445/share/x.lnk", 0, "smb://[fe80::1]:445/share/x.lnk",
     "smb://[fe80::1]:445/share"},
    {"smb://server/share/caf\xc3\xa9.lnk", 0, "smb://server/share/caf%C3%A9.lnk",
     "smb://server/share"},
    // Names of nothing on a share.
    {"\\\\server", ERROR_INVALID_NAME, nullptr, nullptr},
    {"\\\\server\\share", ERROR_INVALID_NAME, nullptr, nullptr},
    {"\\\\server\\share\\", ERROR_INVALID_NAME, nullptr, nullptr},
    {"\\\\\\share\\x.lnk", ERROR_INVALID_NAME, nullptr, nullptr},
    {"\\\\server\\..\\x.lnk", ERROR_INVALID_NAME, nullptr, nullptr},
    {"\\\\server\\share\\..\\x.lnk", ERROR_INVALID_NAME, nullptr, nullptr},
    {"\\\\ser@ver\\share\\x.lnk", ERROR_INVALID_NAME, nullptr, nullptr},
    {"smb://user@server/share/x.lnk", ERROR_INVALID_NAME, nullptr, nullptr},
    {"smb://dom;user:pw@server/share/x.lnk", ERROR_INVALID_NAME, nullptr, nullptr},
    {"smb://server/share/x.lnk?debug=10", ERROR_INVALID_NAME, nullptr, nullptr},
    {"smb://server/share/x.lnk#top", ERROR_INVALID_NAME, nullptr, nullptr},
    {"smb://server:/share/x.lnk", ERROR_INVALID_NAME, nullptr, nullptr},
    {"smb://server:0/share/x.lnk", ERROR_INVALID_NAME, nullptr, nullptr},
    {"smb://server:65536/share/x.lnk", ERROR_INVALID_NAME, nullptr, nullptr},
    {"smb://server:44x/share/x.lnk", ERROR_INVALID_NAME, nullptr, nullptr},
    {"smb://server/share/a%2Fb.lnk", ERROR_INVALID_NAME, nullptr, nullptr},
    {"smb://server/share/a%00b.lnk", ERROR_INVALID_NAME, nullptr, nullptr},
};

TEST(SharePath, EachFormTakenApartAndMadeIntoUrls) {
  for (const PathCase& c : kPathCases) {
    SCOPED_TRACE(c.Path);
    SharePath path;
    ASSERT_EQ(ParseSharePath(c.Path, &path), c.Error);
    if (c.Error != 0) continue;
    char url[portable::smb::kMaxUrl];
    ASSERT_TRUE(MakeUrl(path, UrlPart::File, url));
    EXPECT_STREQ(url, c.File);
    ASSERT_TRUE(MakeUrl(path, UrlPart::Folder, url));
    EXPECT_STREQ(url, c.Folder);
  }
}

TEST(SharePath, OnlyTheTwoFormsAreShares) {
  EXPECT_TRUE(portable::smb::IsSharePath("\\\\s\\x\\y"));
  EXPECT_TRUE(portable::smb::IsSharePath("smb://s/x/y"));
  for (const char* local : {"x.lnk", "/srv/share/x.lnk", "//server/share/x.lnk", "smb:x.lnk",
                            "\\x.lnk", "C:\\x.lnk", ""})
    EXPECT_FALSE(portable::smb::IsSharePath(local)) << local;
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

}  // namespace
