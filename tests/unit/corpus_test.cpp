// Every link of the corpus in tests/corpus, read by the portable object and
// checked against lnkinfo's account of the same file.  A corpus that is not
// there fails.
#include <gtest/gtest.h>
#include <dirent.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform.h"
#include "shllink/reader.h"
#include "test_support.h"

namespace {

const std::string kCorpus = KIT_CORPUS_DIR;

// Files lnkinfo cannot read; they must fail cleanly here too.
const std::set<std::string> kMalformed = {
    "ez_bad_recyclebin_I_file_not_lnk.lnk",
    "lp3_malformed_padded_args.lnk",
    "lp3_malformed_block_overrun.lnk",
};

// Where lnkinfo 20181227 is not to be trusted, and why.
struct Untrusted {
  const char* File;
  const char* Field;
  const char* Reason;
};
const Untrusted kUntrusted[] = {
    {"pylnk_10_emoji_non_bmp.lnk", "target",
     "lnkinfo decodes the UTF-16 surrogate pair of U+1F370 into a wrong code point"},
    {"plaso_unpaired_surrogate.lnk", "target",
     "lnkinfo drops the character after the lone surrogate U+D800"},
};

bool IsUntrusted(const std::string& file, const std::string& field) {
  for (const Untrusted& u : kUntrusted)
    if (file == u.File && field == u.Field) return true;
  return false;
}

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> files;
  if (kCorpus.empty()) return files;
  DIR* d = opendir(kCorpus.c_str());
  if (d == nullptr) return files;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name.size() > 4 && name.substr(name.size() - 4) == ".lnk") files.push_back(name);
  }
  closedir(d);
  std::sort(files.begin(), files.end());
  return files;
}

// The "Link information" lines of lnkinfo's output: "\tKey\t\t: value".
std::map<std::string, std::string> LnkinfoFields(const std::string& file) {
  std::map<std::string, std::string> fields;
  std::ifstream in(kCorpus + "/" + file.substr(0, file.size() - 4) + ".lnkinfo.txt");
  std::string line;
  bool inLinkInformation = false;
  while (std::getline(in, line)) {
    if (line == "Link information:") {
      inLinkInformation = true;
      continue;
    }
    if (line.empty()) inLinkInformation = false;
    if (!inLinkInformation || line.size() < 2 || line[0] != '\t' || line[1] == '\t') continue;
    const std::size_t colon = line.find(": ");
    if (colon == std::string::npos) continue;
    std::string key = line.substr(1, colon - 1);
    while (!key.empty() && (key.back() == '\t' || key.back() == ' ')) key.pop_back();
    fields[key] = line.substr(colon + 2);
  }
  return fields;
}

std::u16string Wide(const std::string& name) {
  char16_t buffer[4096];
  MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, reinterpret_cast<WCHAR*>(buffer), 4096);
  return buffer;
}

class Corpus : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CorpusFiles().size(), kCorpusLinks) << "the corpus at " << kCorpus;
  }
};

TEST_F(Corpus, EveryFileReadsAsLnkinfoReadsIt) {
  int checked = 0;
  for (const std::string& file : CorpusFiles()) {
    SCOPED_TRACE(file);
    IShellLinkA* link;
    IPersistFile* persist;
    ASSERT_EQ(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IShellLinkA, reinterpret_cast<void**>(&link)), S_OK);
    ASSERT_EQ(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)), S_OK);
    HRESULT hr = persist->Load(reinterpret_cast<LPCOLESTR>(Wide(kCorpus + "/" + file).c_str()),
                               STGM_READ);
    if (kMalformed.count(file) != 0) {
      EXPECT_TRUE(FAILED(hr));
      EXPECT_TRUE(hr == HRESULT_FROM_WIN32(ERROR_BAD_FORMAT) ||
                  hr == HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT));
    } else {
      ASSERT_EQ(hr, S_OK);
      std::map<std::string, std::string> expected = LnkinfoFields(file);
      char text[4096];
      int index = 0;
      auto check = [&](const std::string& key, const std::string& actual) {
        auto it = expected.find(key);
        EXPECT_EQ(actual, it == expected.end() ? "" : it->second) << key;
      };
      ASSERT_TRUE(SUCCEEDED(link->GetDescription(text, sizeof text)));
      check("Description", text);
      ASSERT_TRUE(SUCCEEDED(link->GetWorkingDirectory(text, sizeof text)));
      check("Working directory", text);
      ASSERT_TRUE(SUCCEEDED(link->GetArguments(text, sizeof text)));
      check("Command line arguments", text);
      ASSERT_TRUE(SUCCEEDED(link->GetIconLocation(text, sizeof text, &index)));
      check("Icon location", text);
      check("Icon index", std::to_string(index));
      ASSERT_TRUE(SUCCEEDED(link->GetPath(text, sizeof text, nullptr, SLGP_RAWPATH)));
      for (const char* key : {"Environment variables location", "Local path", "Network path"}) {
        if (expected.count(key) == 0) continue;
        if (!IsUntrusted(file, "target")) {
          EXPECT_EQ(std::string(text), expected[key]) << key;
        }
        break;
      }
      ++checked;
    }
    persist->Release();
    link->Release();
  }
  EXPECT_EQ(checked, 38);
}

// A link file taken apart: its structures as the bytes that stand for them.
struct Structures {
  std::string Header;  // LinkFlags zero
  uint32_t LinkFlags = 0;
  std::string IDList, Info, Tail;
  std::string Strings[shllink::kStringCount];
  std::vector<std::pair<uint32_t, std::string>> Blocks;  // signature, bytes
};

std::string Str(shllink::Bytes b) { return std::string(b.begin(), b.end()); }

Structures TakeApart(const std::string& file) {
  using namespace shllink;
  const Bytes bytes(reinterpret_cast<const uint8_t*>(file.data()), file.size());
  ShellLink link;
  EXPECT_EQ(ParseShellLink(bytes, &link), ParseResult::Ok);
  Structures s;
  s.Header = Str(link.Header.Raw);
  s.Header.replace(ShellLinkHeaderAt::LinkFlags, sizeof link.Header.LinkFlags,
                   sizeof link.Header.LinkFlags, '\0');
  s.LinkFlags = link.Header.LinkFlags;
  s.IDList = Str(link.IDList.IDList);
  s.Info = Str(link.Info.Raw);
  for (std::size_t i = 0; i < kStringCount; ++i)
    if (!link.Strings.Raw[i].empty()) s.Strings[i] = Str(link.Strings.Raw[i].subspan(2));
  for (const DataBlock& block : link.Extra.List())
    s.Blocks.emplace_back(block.BlockSignature, Str(block.Raw));
  s.Tail = Str(link.Extra.Tail);
  return s;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// What an edit may change in a link, beyond the fields it was given.
enum class Keeps { Everything, AllButDescription, AllButTarget };

// Edit on every well-formed link: what it was not given, it keeps.
TEST_F(Corpus, EditKeepsWhatItWasNotGiven) {
  using namespace shllink;
  struct Case {
    std::vector<const char*> Switches;
    Keeps What;
  };
  const Case cases[] = {
      {{"/A:E"}, Keeps::Everything},
      {{"/A:E", "/D:x"}, Keeps::AllButDescription},
      {{"/A:E", "/T:C:\\Zelvo\\dial.exe"}, Keeps::AllButTarget},
      {{"/A:E", "/T:\\\\srv\\share\\dial.exe"}, Keeps::AllButTarget},
  };
  // What describes a target, and so goes with it.
  const uint32_t targetFlags = HasLinkTargetIDList | HasLinkInfo | HasRelativePath |
                               HasExpString | ForceNoLinkInfo | PreferEnvironmentPath |
                               HasDarwinID;
  const std::set<uint32_t> targetBlocks = {
      EnvironmentVariableDataBlockSignature, TrackerDataBlockSignature,
      DarwinDataBlockSignature, SpecialFolderDataBlockSignature,
      KnownFolderDataBlockSignature, VistaAndAboveIDListDataBlockSignature};
  char dir[] = "/tmp/shortcut-corpus-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string copy = std::string(dir) + "/edited.lnk";
  const std::string fileSwitch = "/F:" + copy;
  for (const std::string& file : CorpusFiles()) {
    if (kMalformed.count(file) != 0) continue;
    const std::string before = ReadFile(kCorpus + "/" + file);
    const Structures old = TakeApart(before);
    for (const Case& c : cases) {
      SCOPED_TRACE(file + " " + c.Switches.back());
      std::ofstream(copy, std::ios::binary) << before;
      std::vector<const char*> args = {fileSwitch.c_str()};
      args.insert(args.end(), c.Switches.begin(), c.Switches.end());
      ASSERT_EQ(RunShortcut(args).ExitCode, 0);
      const std::string after = ReadFile(copy);
      if (c.What == Keeps::Everything) {
        EXPECT_TRUE(after == before) << "rewritten";
        continue;
      }
      const Structures now = TakeApart(after);
      const std::size_t icon = ShellLinkHeaderAt::IconIndex;
      EXPECT_EQ(now.Header.substr(icon), old.Header.substr(icon)) << "icon, show, hotkey";
      EXPECT_EQ(now.Tail, old.Tail);
      for (int i = 1; i < static_cast<int>(kStringCount); ++i) {
        if (i == 1 && c.What == Keeps::AllButTarget) continue;  // RelativePath
        EXPECT_EQ(now.Strings[i], old.Strings[i]) << i;
      }
      if (c.What == Keeps::AllButDescription) {
        EXPECT_EQ(now.Header, old.Header);
        EXPECT_EQ(now.LinkFlags, old.LinkFlags | HasName);
        EXPECT_EQ(now.IDList, old.IDList);
        EXPECT_EQ(now.Info, old.Info);
        EXPECT_EQ(now.Blocks, old.Blocks);
        EXPECT_EQ(now.Strings[0], (now.LinkFlags & IsUnicode) ? std::string("x\0", 2) : "x");
      } else {
        EXPECT_EQ(now.LinkFlags & ~targetFlags, old.LinkFlags & ~targetFlags);
        std::vector<std::pair<uint32_t, std::string>> kept;
        for (const auto& block : old.Blocks)
          if (targetBlocks.count(block.first) == 0) kept.push_back(block);
        std::vector<std::pair<uint32_t, std::string>> nowKept(
            now.Blocks.begin(), now.Blocks.begin() + std::min(kept.size(), now.Blocks.size()));
        EXPECT_EQ(nowKept, kept);
      }
    }
  }
  std::system(("rm -rf " + std::string(dir)).c_str());
}

// The target of a corpus link as the object reads it, with
// SHORTCUT_CODEPAGE set to codePage (nullptr: unset).
std::string TargetIn(const std::string& file, const char* codePage, HRESULT* created) {
  if (codePage != nullptr)
    setenv("SHORTCUT_CODEPAGE", codePage, 1);
  else
    unsetenv("SHORTCUT_CODEPAGE");
  IShellLinkA* link = nullptr;
  *created = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                              reinterpret_cast<void**>(&link));
  unsetenv("SHORTCUT_CODEPAGE");
  if (FAILED(*created)) return "";
  IPersistFile* persist = nullptr;
  EXPECT_EQ(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)), S_OK);
  EXPECT_EQ(persist->Load(reinterpret_cast<LPCOLESTR>(Wide(kCorpus + "/" + file).c_str()),
                          STGM_READ), S_OK);
  char text[1024] = {};
  EXPECT_TRUE(SUCCEEDED(link->GetPath(text, sizeof text, nullptr, SLGP_RAWPATH)));
  persist->Release();
  link->Release();
  return text;
}

// ANSI links read in the code page that SHORTCUT_CODEPAGE names.
TEST_F(Corpus, AnsiTextsInTheNamedCodePage) {
  struct Case {
    const char* File;
    const char* CodePage;
    HRESULT Created;
    const char* Target;
  };
  const Case cases[] = {
      {"lp3_cyrillic_cp1251_ansi.lnk", nullptr, S_OK,
       "C:\\Users\\\xC3\x8F\xC3\xAE\xC3\xAB\xC3\xBC\xC3\xA7\xC3\xAE\xC3\xA2\xC3\xA0\xC3\xB2"
       "\xC3\xA5\xC3\xAB\xC3\xBC\\Desktop\\\xC2\xA0"},
      {"lp3_cyrillic_cp1251_ansi.lnk", "1251", S_OK,
       "C:\\Users\\\xD0\x9F\xD0\xBE\xD0\xBB\xD1\x8C\xD0\xB7\xD0\xBE\xD0\xB2\xD0\xB0\xD1\x82"
       "\xD0\xB5\xD0\xBB\xD1\x8C\\Desktop\\\xC2\xA0"},
      {"lp3_chinese_ansi_iconenv_minimized.lnk", "936", S_OK,
       "C:\\Youdao\\ShoppingAssistant\\ie\\4.4\\\xE6\x92\xAD\xE6\x94\xBE\xE5\x99\xA8\xE6\xAD"
       "\xA3\xE5\x9C\xA8\xE5\x8A\xA0\xE8\xBD\xBD\xEF\xBC\x88\xE6\x8B\xA6\xE6\x88\xAA\xE8\xAF"
       "\xB7\xE5\x85\x81\xE8\xAE\xB8\xEF\xBC\x89.exe"},
      {"pylnk_10_unc_file.lnk", "932", S_OK,
       "\\\\192.168.138.2\\storage\\Downloads\\folder1\\file1.txt"},
      {"lp3_cyrillic_cp1251_ansi.lnk", "cyrillic", E_INVALIDARG, ""},
      {"lp3_cyrillic_cp1251_ansi.lnk", "77777", E_INVALIDARG, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.File) + " in " + (c.CodePage ? c.CodePage : "1252"));
    HRESULT created = S_OK;
    EXPECT_EQ(TargetIn(c.File, c.CodePage, &created), c.Target);
    EXPECT_EQ(created, c.Created);
  }
}

// Every ANSI code page docs/using-shortcut.md lists keeps a target of ASCII, and one
// that ends in a word of its own script, stored as ANSI text (a LinkInfo
// path), through a save, reads and edits of another field: the path comes
// back whole, to its last character (converters that hold a character
// back until flushed would cut it), and stays ANSI.
TEST(CodePages, AnsiTargetsRoundTripInEveryListedCodePage) {
  struct Case {
    const char* CodePage;
    const char* Word;
  };
  const Case cases[] = {
      {"874", "\u0E44\u0E17\u0E22"},                              // Thai
      {"932", "\u65E5\u672C\u8A9E\u8868"},                        // Japanese
      {"936", "\u4E2D\u6587"},                                    // Chinese
      {"949", "\uD55C\uAD6D\uC5B4"},                              // Korean
      {"950", "\u7E41\u9AD4"},                                    // Chinese
      {"1250", "\u0141\u00F3d\u017A"},                            // Polish
      {"1251", "\u041F\u0440\u0438\u0432\u0435\u0442"},            // Russian
      {"1252", "Caf\u00E9"},                                       // French
      {"1253", "\u0395\u03BB\u03BB\u03AC\u03B4\u03B1"},            // Greek
      {"1254", "T\u00FCrk\u00E7e"},                                // Turkish
      {"1255", "\u05E2\u05D1\u05E8\u05D9\u05EA"},                  // Hebrew
      {"1256", "\u0639\u0631\u0628\u064A"},                        // Arabic
      {"1257", "Lietuvi\u0173"},                                   // Lithuanian
      {"1258", "Vi\u1EC7t"},                                       // Vietnamese
  };
  char folder[] = "/tmp/shortcut-codepage-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string saved = std::string(folder) + "/ansi.lnk";
  const std::u16string name = Wide(saved);
  const auto file = reinterpret_cast<LPCOLESTR>(name.c_str());
  // Makes a link, or loads saved, with the code page set; edits it and
  // saves it as saved.
  const auto edit = [&](bool load, auto&& change) {
    IShellLinkA* link = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                               reinterpret_cast<void**>(&link)), S_OK);
    IPersistFile* persist = nullptr;
    ASSERT_EQ(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)), S_OK);
    if (load) {
      EXPECT_EQ(persist->Load(file, STGM_READ), S_OK);
    }
    change(link);
    EXPECT_EQ(persist->Save(file, TRUE), S_OK);
    persist->Release();
    link->Release();
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.CodePage);
    setenv("SHORTCUT_CODEPAGE", c.CodePage, 1);
    for (const std::string& target : {std::string("C:\\test\\a.txt"),
                                     std::string("C:\\test\\") + c.Word}) {
      edit(false, [&](IShellLinkA* link) { EXPECT_EQ(link->SetPath(target.c_str()), S_OK); });
      for (const char* description : {"first", "second"}) {
        edit(true, [&](IShellLinkA* link) {
          char text[256] = {};
          EXPECT_EQ(link->GetPath(text, sizeof text, nullptr, SLGP_RAWPATH), S_OK);
          EXPECT_EQ(text, target);
          EXPECT_EQ(link->SetDescription(description), S_OK);
        });
      }
      // A LinkInfo whose header has no Unicode copies of the path.
      const std::string bytes = ReadFile(saved);
      shllink::ShellLink link;
      ASSERT_EQ(shllink::ParseShellLink(shllink::Bytes(reinterpret_cast<const uint8_t*>(
                                                           bytes.data()), bytes.size()),
                                        &link),
                shllink::ParseResult::Ok);
      EXPECT_EQ(link.Info.LinkInfoHeaderSize, shllink::kLinkInfoHeaderSize);
    }
  }
  unsetenv("SHORTCUT_CODEPAGE");
  unlink(saved.c_str());
  rmdir(folder);
}

// A network target is stored as Windows 10 stored the same one.
TEST_F(Corpus, NetworkTargetFollowsWindows10) {
  using namespace shllink;
  const std::string windows = ReadFile(kCorpus + "/pylnk_10_unc_file.lnk");
  LinkFields f;
  f.Target = "\\\\192.168.138.2\\storage\\Downloads\\folder1\\file1.txt";
  const std::vector<uint8_t> ours = MakeLink(f);
  ShellLink a, b;
  ASSERT_EQ(ParseShellLink(Bytes(reinterpret_cast<const uint8_t*>(windows.data()),
                                 windows.size()), &a), ParseResult::Ok);
  ASSERT_EQ(ParseShellLink(Bytes(ours), &b), ParseResult::Ok);
  const uint32_t form = HasLinkTargetIDList | HasLinkInfo | HasExpString | ForceNoLinkInfo;
  EXPECT_EQ(b.Header.LinkFlags & form, a.Header.LinkFlags & form);
  EXPECT_EQ(b.Info.LinkInfoHeaderSize, a.Info.LinkInfoHeaderSize);
  EXPECT_EQ(b.Info.LinkInfoFlags, a.Info.LinkInfoFlags);
  EXPECT_EQ(b.Info.NetworkLink.CommonNetworkRelativeLinkFlags,
            a.Info.NetworkLink.CommonNetworkRelativeLinkFlags);
  EXPECT_EQ(b.Info.NetworkLink.NetworkProviderType, a.Info.NetworkLink.NetworkProviderType);
  EXPECT_EQ(Str(Bytes(b.Info.CommonPathSuffix.Data, b.Info.CommonPathSuffix.Length)),
            Str(Bytes(a.Info.CommonPathSuffix.Data, a.Info.CommonPathSuffix.Length)));
  // Windows names the share as the server spells it; the path as given.
  std::string netName = Str(Bytes(a.Info.NetworkLink.NetName.Data, a.Info.NetworkLink.NetName.Length));
  for (char& c : netName) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(Str(Bytes(b.Info.NetworkLink.NetName.Data, b.Info.NetworkLink.NetName.Length)),
            netName);
  ASSERT_TRUE(b.Extra.EnvironmentVariable.Present());
  auto unicode = [](const TextRef& t) { return Str(Bytes(t.Data, 2 * t.Length)); };
  EXPECT_EQ(unicode(b.Extra.EnvironmentVariable.TargetUnicode),
            unicode(a.Extra.EnvironmentVariable.TargetUnicode));
}

}  // namespace
