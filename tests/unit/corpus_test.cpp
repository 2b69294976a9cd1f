// Every link of the shared corpus, read by the portable object and checked
// against lnkinfo's account of the same file.  Skipped when the corpus is
// not beside the project.
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
#include "shllink/format.h"
#include "test_support.h"

#ifndef KIT_CORPUS_DIR
#define KIT_CORPUS_DIR ""
#endif

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
    if (CorpusFiles().empty()) GTEST_SKIP() << "no corpus at " << kCorpus;
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
  std::string Header;  // without LinkFlags
  uint32_t LinkFlags = 0;
  std::string IDList, Info, Tail;
  std::string Strings[5];
  std::vector<std::pair<uint32_t, std::string>> Blocks;  // signature, bytes
};

std::string Str(shllink::Bytes b) { return std::string(b.begin(), b.end()); }

Structures TakeApart(const std::string& file) {
  using namespace shllink;
  const Bytes bytes(reinterpret_cast<const uint8_t*>(file.data()), file.size());
  ShellLink link;
  EXPECT_EQ(ParseShellLink(bytes, &link), ParseResult::Ok);
  Structures s;
  s.Header = file.substr(0, 0x14) + file.substr(0x18, 0x4C - 0x18);
  s.LinkFlags = link.Header.LinkFlags;
  s.IDList = Str(link.IDList.IDList);
  s.Info = Str(link.Info.Raw);
  const TextRef* texts[5] = {&link.Strings.NameString, &link.Strings.RelativePath,
                             &link.Strings.WorkingDir, &link.Strings.CommandLineArguments,
                             &link.Strings.IconLocation};
  for (int i = 0; i < 5; ++i) {
    const std::size_t unit = texts[i]->Encoding == TextEncoding::Unicode ? 2 : 1;
    if (texts[i]->Present) s.Strings[i] = Str(Bytes(texts[i]->Data, texts[i]->Length * unit));
  }
  const ByteReader blocks(link.Extra.Blocks);
  for (std::size_t at = 0; at < link.Extra.Blocks.size();) {
    uint32_t size = 0, signature = 0;
    Bytes block;
    EXPECT_TRUE(blocks.ReadU32LE(at, &size) && blocks.ReadU32LE(at + 4, &signature) &&
                blocks.Slice(at, size, &block));
    s.Blocks.emplace_back(signature, Str(block));
    at += size;
  }
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
      EXPECT_EQ(now.Header.substr(0x38 - 4), old.Header.substr(0x38 - 4)) << "icon, show, hotkey";
      EXPECT_EQ(now.Tail, old.Tail);
      for (int i = 1; i < 5; ++i) {
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

}  // namespace
