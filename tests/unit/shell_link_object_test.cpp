// The portable shell link object through its COM interfaces: round trips,
// refusals, and saves that never lose the old file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "internal.h"
#include "platform.h"
#include "scripted_share.h"
#include "shllink/shell_items.h"
#include "test_support.h"

namespace {

std::u16string Wide(const std::string& name) {
  char16_t buffer[4096];
  EXPECT_GT(
      MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, reinterpret_cast<WCHAR*>(buffer), 4096), 0);
  return std::u16string(buffer);
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class Object : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/shortcut-object-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    Create();
  }
  void TearDown() override {
    Release();
    ASSERT_EQ(std::system(("rm -rf '" + dir_ + "'").c_str()), 0);
  }
  // A run of the tool takes the one object there is: a test lets go of its
  // own first.
  void Create() {
    ASSERT_EQ(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IShellLinkA, reinterpret_cast<void**>(&link_)),
              S_OK);
    ASSERT_EQ(link_->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file_)), S_OK);
  }
  void Release() {
    if (file_ != nullptr) file_->Release();
    if (link_ != nullptr) link_->Release();
    file_ = nullptr;
    link_ = nullptr;
  }
  HRESULT Save(const std::string& name) {
    return file_->Save(reinterpret_cast<LPCOLESTR>(Wide(dir_ + "/" + name).c_str()), TRUE);
  }
  HRESULT Load(const std::string& name) {
    return file_->Load(reinterpret_cast<LPCOLESTR>(Wide(dir_ + "/" + name).c_str()), STGM_READ);
  }
  // Saves to a name as given; nullptr: the current file.
  HRESULT SaveTo(const char* name, BOOL remember) {
    return file_->Save(name ? reinterpret_cast<LPCOLESTR>(Wide(name).c_str()) : nullptr, remember);
  }
  // The folder's entries, sorted.
  std::vector<std::string> Entries() {
    std::vector<std::string> names;
    DIR* d = opendir(dir_.c_str());
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.' || (e->d_name[1] != '\0' && e->d_name[1] != '.'))
        names.push_back(e->d_name);
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
  }
  // The text a getter gives, which must give S_OK.
  std::string Get(HRESULT (IShellLinkA::*getter)(LPSTR, int), int size = 261) {
    std::vector<char> buffer(size);
    EXPECT_EQ((link_->*getter)(buffer.data(), size), S_OK);
    return buffer.data();
  }

  std::string dir_;
  IShellLinkA* link_ = nullptr;
  IPersistFile* file_ = nullptr;
};

TEST_F(Object, EveryFieldSurvivesSaveAndLoad) {
  ASSERT_EQ(link_->SetPath("C:\\Programme\\Zelvo\\wählen.exe"), S_OK);
  ASSERT_EQ(link_->SetArguments("-d \"Zelvo ADSL\" ✓"), S_OK);
  ASSERT_EQ(link_->SetWorkingDirectory("D:\\work"), S_OK);
  ASSERT_EQ(link_->SetDescription("Verbindung 😀"), S_OK);
  ASSERT_EQ(link_->SetIconLocation("%SystemRoot%\\zelvo.ico", -3), S_OK);
  ASSERT_EQ(link_->SetShowCmd(7), S_OK);
  ASSERT_EQ(link_->SetHotkey(0x0653), S_OK);
  ASSERT_EQ(Save("all.lnk"), S_OK);

  // A fresh object reads it.
  Release();
  Create();
  ASSERT_EQ(Load("all.lnk"), S_OK);
  char text[261];
  int index = 0, show = 0;
  WORD hotKey = 0;
  EXPECT_EQ(link_->GetPath(text, 261, nullptr, SLGP_RAWPATH), S_OK);
  EXPECT_STREQ(text, "C:\\Programme\\Zelvo\\wählen.exe");
  EXPECT_EQ(Get(&IShellLinkA::GetArguments), "-d \"Zelvo ADSL\" ✓");
  EXPECT_EQ(Get(&IShellLinkA::GetWorkingDirectory), "D:\\work");
  EXPECT_EQ(Get(&IShellLinkA::GetDescription), "Verbindung 😀");
  ASSERT_EQ(link_->GetIconLocation(text, 261, &index), S_OK);
  EXPECT_STREQ(text, "%SystemRoot%\\zelvo.ico");
  EXPECT_EQ(index, -3);
  ASSERT_EQ(link_->GetShowCmd(&show), S_OK);
  EXPECT_EQ(show, 7);
  ASSERT_EQ(link_->GetHotkey(&hotKey), S_OK);
  EXPECT_EQ(hotKey, 0x0653);
}

// Through IShellLinkW the same texts come in UTF-16, cut before a surrogate
// pair that does not fit whole.
TEST_F(Object, WideGettersGiveTheTextsInUtf16) {
  ASSERT_EQ(link_->SetPath("%WINDIR%\\w\xC3\xA4hlen.exe"), S_OK);
  ASSERT_EQ(link_->SetDescription("Verbindung \xF0\x9F\x98\x80"), S_OK);
  ASSERT_EQ(link_->SetIconLocation("C:\\zelvo.ico", -3), S_OK);
  IShellLinkW* wide = nullptr;
  ASSERT_EQ(link_->QueryInterface(IID_IShellLinkW, reinterpret_cast<void**>(&wide)), S_OK);
  int index = 0;
  const struct {
    std::function<HRESULT(LPWSTR, int)> Get;
    int Size;
    std::u16string Text;
  } rows[] = {
      {[&](LPWSTR t, int n) { return wide->GetPath(t, n, nullptr, SLGP_RAWPATH); }, 261,
       u"%WINDIR%\\w\u00E4hlen.exe"},
      {[&](LPWSTR t, int n) { return wide->GetDescription(t, n); }, 261, u"Verbindung \U0001F600"},
      {[&](LPWSTR t, int n) { return wide->GetDescription(t, n); }, 14, u"Verbindung \U0001F600"},
      {[&](LPWSTR t, int n) { return wide->GetDescription(t, n); }, 13, u"Verbindung "},
      {[&](LPWSTR t, int n) { return wide->GetArguments(t, n); }, 261, u""},
      {[&](LPWSTR t, int n) { return wide->GetIconLocation(t, n, &index); }, 261,
       u"C:\\zelvo.ico"},
  };
  for (const auto& row : rows) {
    WCHAR text[261];
    std::fill(std::begin(text), std::end(text), u'x');
    EXPECT_TRUE(SUCCEEDED(row.Get(text, row.Size)));
    EXPECT_EQ(std::u16string(text), row.Text);
  }
  EXPECT_EQ(index, -3);
  wide->Release();
}

TEST_F(Object, AnEmptyTargetIsSuccessWithoutAPath) {
  ASSERT_EQ(Save("empty.lnk"), S_OK);
  ASSERT_EQ(Load("empty.lnk"), S_OK);
  char text[261] = "x";
  EXPECT_EQ(link_->GetPath(text, 261, nullptr, SLGP_RAWPATH), S_FALSE);
  EXPECT_STREQ(text, "");
}

TEST_F(Object, SettersRefuseTextThatIsNotUtf8) {
  EXPECT_EQ(link_->SetDescription("caf\xE9"), E_INVALIDARG);
  EXPECT_EQ(link_->SetPath("C:\\\xC3"), E_INVALIDARG);
  EXPECT_EQ(link_->SetIconLocation("\xFF.ico", 1), E_INVALIDARG);
  EXPECT_EQ(link_->SetArguments("\xED\xA0\x80"), E_INVALIDARG) << "an encoded surrogate";
  EXPECT_EQ(Get(&IShellLinkA::GetDescription), "");
}

// Why a setter refuses a text, and that a refused edit leaves the link as
// it was, down to its bytes.
TEST_F(Object, SettersSayWhyAndARefusalChangesNothing) {
  const HRESULT tooLong = HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  const std::string units259 = "%" + std::string(257, 'A') + "%";
  const std::string units260 = "%" + std::string(258, 'A') + "%";
  const std::string longest(kMaxLinkTextBytes, 'x');
  const std::string local = "C:\\" + std::string(258, 'A');
  const std::string network = "\\\\s\\h\\" + std::string(300, 'a');
  auto path = [](const std::string& t) {
    return [t](IShellLinkA* l) { return l->SetPath(t.c_str()); };
  };
  auto icon = [](const std::string& t) {
    return [t](IShellLinkA* l) { return l->SetIconLocation(t.c_str(), 1); };
  };
  struct Case {
    const char* What;
    std::function<HRESULT(IShellLinkA*)> Set;
    HRESULT Result;
  };
  const Case cases[] = {
      {"raw target that fills the block", path(units259), S_OK},
      {"raw target past the block", path(units260), tooLong},
      {"local path as long", path(local), S_OK},
      {"network path past the block", path(network), S_OK},
      {"icon past the block", icon(units260), tooLong},
      {"icon without %NAME%", icon(longest), S_OK},
      {"path of one byte too many", path("C:\\" + longest), E_INVALIDARG},
      {"longest text", [&](IShellLinkA* l) { return l->SetArguments(longest.c_str()); }, S_OK},
      {"one byte too many",
       [&](IShellLinkA* l) { return l->SetDescription((longest + "x").c_str()); }, E_INVALIDARG},
  };
  ASSERT_EQ(link_->SetDescription("kept"), S_OK);
  ASSERT_EQ(Save("before.lnk"), S_OK);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    EXPECT_EQ(c.Set(link_), c.Result);
    if (c.Result == S_OK) {
      ASSERT_EQ(Save("before.lnk"), S_OK);
      continue;
    }
    EXPECT_EQ(Get(&IShellLinkA::GetDescription), "kept");
    ASSERT_EQ(Save("after.lnk"), S_OK);
    EXPECT_TRUE(ReadAll(dir_ + "/after.lnk") == ReadAll(dir_ + "/before.lnk"));
  }
}

TEST_F(Object, FileNamesThatAreNotUtf8Work) {
  const std::string name = "Zelvo-\xE9t\xE9.lnk";  // Latin-1 bytes
  ASSERT_EQ(link_->SetDescription("latin"), S_OK);
  ASSERT_EQ(Save(name), S_OK);
  EXPECT_FALSE(ReadAll(dir_ + "/" + name).empty());
  ASSERT_EQ(link_->SetDescription("other"), S_OK);
  ASSERT_EQ(Load(name), S_OK);
  EXPECT_EQ(Get(&IShellLinkA::GetDescription), "latin");
}

TEST_F(Object, AFailedSaveKeepsTheOldFileAndLeavesNothingBehind) {
  ASSERT_EQ(link_->SetDescription("old"), S_OK);
  ASSERT_EQ(Save("keep.lnk"), S_OK);
  const std::string before = ReadAll(dir_ + "/keep.lnk");
  // A folder in the way of the rename.
  ASSERT_EQ(mkdir((dir_ + "/inway.lnk").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((dir_ + "/inway.lnk/x").c_str(), 0755), 0);
  EXPECT_TRUE(FAILED(Save("inway.lnk")));
  EXPECT_EQ(Save("missing/x.lnk"), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(ReadAll(dir_ + "/keep.lnk"), before);
  EXPECT_EQ(Entries(), (std::vector<std::string>{"inway.lnk", "keep.lnk"}));
}

// A copy saved under another name (fRemember FALSE) leaves the object
// holding what it loaded: the save to the loaded file that follows succeeds
// over the bytes it read, and gives 32 where someone changed them
// meanwhile, whose change stays.  On a local file and on a share alike.
TEST_F(Object, ACopySavedElsewhereLeavesTheLoadedFileHeld) {
  const std::string url = "smb://127.0.0.1/share/a.lnk";
  portable::smb::UseLibrary(&scripted_share::TheLibrary());
  unsetenv("SHORTCUT_SMB_CREDENTIALS");  // a guest
  for (const bool share : {false, true}) {
    const std::string at = share ? "\\\\127.0.0.1\\share\\" : dir_ + "/", a = at + "a.lnk";
    for (const bool changed : {false, true}) {
      SCOPED_TRACE(a + (changed ? ", changed" : ""));
      Release();
      Create();
      ASSERT_EQ(SaveTo(a.c_str(), TRUE), S_OK);
      ASSERT_EQ(file_->Load(reinterpret_cast<LPCOLESTR>(Wide(a).c_str()), STGM_READ), S_OK);
      ASSERT_EQ(link_->SetDescription("mine"), S_OK);
      ASSERT_EQ(SaveTo((at + "b.lnk").c_str(), FALSE), S_OK);
      if (changed && share) scripted_share::Files()[url].Data = "theirs";  // another program
      if (changed && !share) std::ofstream(a) << "theirs";
      const HRESULT refused = HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION);
      EXPECT_EQ(SaveTo(nullptr, TRUE), changed ? refused : S_OK);
      const std::string now = share ? scripted_share::Files()[url].Data : ReadAll(a);
      if (changed) EXPECT_EQ(now, "theirs");
      else EXPECT_NE(now.find("m\0i\0n\0e\0", 0, 8), std::string::npos);
    }
  }
  portable::smb::UseLibrary(nullptr);
}

TEST_F(Object, ReplacingKeepsThePermissionsOfTheOldFile) {
  ASSERT_EQ(Save("mode.lnk"), S_OK);
  ASSERT_EQ(chmod((dir_ + "/mode.lnk").c_str(), 0640), 0);
  ASSERT_EQ(Save("mode.lnk"), S_OK);
  struct stat st;
  ASSERT_EQ(stat((dir_ + "/mode.lnk").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(Object, LoadRefusesWhatIsNoLinkOrTooLarge) {
  std::ofstream(dir_ + "/text.lnk") << "[InternetShortcut]\r\nURL=x\r\n";
  EXPECT_EQ(Load("text.lnk"), HRESULT_FROM_WIN32(ERROR_BAD_FORMAT));
  std::ofstream(dir_ + "/empty.lnk");
  EXPECT_EQ(Load("empty.lnk"), HRESULT_FROM_WIN32(ERROR_BAD_FORMAT));
  std::ofstream(dir_ + "/big.lnk", std::ios::binary)
      << std::string(portable::kMaxLinkFileSize + 1, '\0');
  EXPECT_EQ(Load("big.lnk"), HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE));
  EXPECT_EQ(Load("nothing.lnk"), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Load("nowhere/x.lnk"), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(Load("."), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
}

// Whether a file is sound is the reader's verdict alone: an ID list whose
// one item is only its ItemIDSize is sound, and names no path.
TEST_F(Object, ALinkTheReaderTakesLoadsThoughItNamesNoPath) {
  using namespace shllink;
  ASSERT_EQ(Save("plain.lnk"), S_OK);
  std::string file = ReadAll(dir_ + "/plain.lnk");
  file[ShellLinkHeaderAt::LinkFlags] |= HasLinkTargetIDList;
  // IDListSize 4, an item of size 2, the TerminalID.
  file.insert(kHeaderSize, std::string("\x04\0\x02\0\0\0", 6));
  std::ofstream(dir_ + "/item.lnk", std::ios::binary) << file;
  ASSERT_EQ(Load("item.lnk"), S_OK);
  char path[16] = "x";
  EXPECT_EQ(link_->GetPath(path, sizeof path, nullptr, SLGP_RAWPATH), S_FALSE);
  EXPECT_STREQ(path, "");
}

TEST_F(Object, GettersCutAtACharacterBoundary) {
  ASSERT_EQ(link_->SetDescription("ab€"), S_OK);  // € is three bytes
  EXPECT_EQ(Get(&IShellLinkA::GetDescription, 5), "ab");
  EXPECT_EQ(Get(&IShellLinkA::GetDescription, 6), "ab€");
}

// Edit gives the object only what changed, so what the record cannot hold
// (texts past 260 bytes, names in no valid encoding) is written back whole.
TEST_F(Object, EditWritesBackWhatTheRecordCannotHold) {
  std::string cjk;
  for (int i = 0; i < 100; ++i) cjk += "\xE8\xA1\xA8";  // 表, three bytes each
  const std::string target = "C:\\" + cjk + "\\app.exe";  // 311 bytes
  const std::string arguments(400, 'a');
  const std::string description(600, 'd');
  const std::string icon = "C:\\" + cjk;  // the record keeps 258 bytes of it
  ASSERT_EQ(link_->SetPath(target.c_str()), S_OK);
  ASSERT_EQ(link_->SetArguments(arguments.c_str()), S_OK);
  ASSERT_EQ(link_->SetDescription(description.c_str()), S_OK);
  ASSERT_EQ(link_->SetIconLocation(icon.c_str(), 1), S_OK);
  ASSERT_EQ(Save("long.lnk"), S_OK);

  // An ID list whose drive is a byte that is no ASCII letter, alone.
  using namespace shllink;
  const std::string written = ReadAll(dir_ + "/long.lnk");
  const std::size_t idListSize =
      static_cast<uint8_t>(written[kHeaderSize + LinkTargetIDListAt::IDListSize]) |
      static_cast<uint8_t>(written[kHeaderSize + LinkTargetIDListAt::IDListSize + 1]) << 8;
  std::string odd = written.substr(0, kHeaderSize + LinkTargetIDListAt::IDList + idListSize) +
                    std::string(kTerminalBlockSize, '\0');
  odd.replace(ShellLinkHeaderAt::LinkFlags, 4, "\x81\0\0\0", 4);  // HasLinkTargetIDList, IsUnicode
  odd[kHeaderSize + LinkTargetIDListAt::IDList + kRootItemSize + kVolumeNameAt] = '\xE9';
  std::ofstream(dir_ + "/odd.lnk", std::ios::binary) << odd;

  const std::string file = "/F:" + dir_ + "/long.lnk", oddFile = "/F:" + dir_ + "/odd.lnk";
  const std::string sameIcon = "/I:" + icon.substr(0, 258) + ",5";
  Release();
  EXPECT_EQ(RunShortcut({file.c_str(), "/A:E", "/R:3"}).ExitCode, 0);
  EXPECT_EQ(RunShortcut({file.c_str(), "/A:E", sameIcon.c_str()}).ExitCode, 0);
  Create();
  ASSERT_EQ(Load("long.lnk"), S_OK);
  char text[4096];
  int index = 0, show = 0;
  ASSERT_EQ(link_->GetPath(text, sizeof text, nullptr, SLGP_RAWPATH), S_OK);
  EXPECT_EQ(text, target);
  EXPECT_EQ(Get(&IShellLinkA::GetArguments, sizeof text), arguments);
  EXPECT_EQ(Get(&IShellLinkA::GetDescription, sizeof text), description);
  ASSERT_EQ(link_->GetIconLocation(text, sizeof text, &index), S_OK);
  EXPECT_EQ(text, icon);
  EXPECT_EQ(index, 5);
  ASSERT_EQ(link_->GetShowCmd(&show), S_OK);
  EXPECT_EQ(show, 3);

  Release();
  const RunResult query = RunShortcut({oddFile.c_str(), "/A:Q"});
  EXPECT_EQ(query.ExitCode, 0);
  EXPECT_NE(query.Output.find("\nTargetPath=\xC3\xA9:\\"), std::string::npos) << query.Output;
  EXPECT_EQ(RunShortcut({oddFile.c_str(), "/A:E", "/R:3"}).ExitCode, 0);
  std::string expected = odd;
  expected[ShellLinkHeaderAt::ShowCommand] = 3;
  EXPECT_TRUE(ReadAll(dir_ + "/odd.lnk") == expected);
}

}  // namespace
