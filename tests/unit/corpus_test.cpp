// Every link of the shared corpus, read by the portable object and checked
// against lnkinfo's account of the same file.  Skipped when the corpus is
// not beside the project.
#include <gtest/gtest.h>
#include <dirent.h>

#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform.h"

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

}  // namespace
