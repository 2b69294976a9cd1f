// Shared by the unit tests: a fresh run state, captured output, links made
// by the portable object, and the scripted shell link object installed.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "command_line.h"
#include "internal.h"
#include "link_store.h"
#include "platform.h"
#include "run_driver.h"
#include "scripted_shell_link.h"

// The links of the corpus in tests/corpus.
inline constexpr std::size_t kCorpusLinks = 41;

// Puts the process-wide state back as it is at process start.
inline void ResetRunState() {
  std::memset(&LinkRecord, 0, sizeof LinkRecord);
  std::memset(&LoadedRecord, 0, sizeof LoadedRecord);
  RecordLoaded = false;
  LinkOptions = kLinkOptionsAtStart;
  TraceEnabled = false;
}

// Runs the whole program in-process; returns its stdout and exit code.
struct RunResult {
  std::string Output;
  int ExitCode;
};
inline RunResult RunShortcut(const std::vector<const char*>& args) {
  ResetRunState();
  std::vector<std::string> storage{"shortcut"};
  for (const char* a : args) storage.emplace_back(a);
  std::vector<char*> argv;
  for (std::string& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  testing::internal::CaptureStdout();
  int code = ShortcutMain(static_cast<int>(storage.size()), argv.data());
  std::fflush(stdout);
  return {testing::internal::GetCapturedStdout(), code};
}

// What a link made for a test holds, set through the portable shell link
// object as the tool sets it.
struct LinkFields {
  const char* Target = "";
  const char* Arguments = "";
  const char* WorkingDirectory = "";
  const char* Description = "";
  const char* IconLocation = "";
  int IconIndex = 0;
};

// The file the portable object saves for fields.
inline std::vector<uint8_t> MakeLink(const LinkFields& f) {
  IShellLinkA* link = nullptr;
  IPersistFile* persist = nullptr;
  EXPECT_EQ(portable::CreatePortableShellLink(IID_IShellLinkA, reinterpret_cast<void**>(&link)),
            S_OK);
  EXPECT_EQ(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)), S_OK);
  EXPECT_EQ(link->SetPath(f.Target), S_OK);
  EXPECT_EQ(link->SetArguments(f.Arguments), S_OK);
  EXPECT_EQ(link->SetWorkingDirectory(f.WorkingDirectory), S_OK);
  EXPECT_EQ(link->SetDescription(f.Description), S_OK);
  EXPECT_EQ(link->SetIconLocation(f.IconLocation, f.IconIndex), S_OK);
  char dir[] = "/tmp/shortcut-made-XXXXXX";
  EXPECT_NE(mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/made.lnk";
  char16_t wide[512] = {};
  for (std::size_t i = 0; i < path.size(); ++i) wide[i] = static_cast<unsigned char>(path[i]);
  EXPECT_EQ(persist->Save(reinterpret_cast<LPCOLESTR>(wide), FALSE), S_OK);
  persist->Release();
  link->Release();
  std::vector<uint8_t> file(portable::kMaxLinkFileSize);
  std::FILE* in = std::fopen(path.c_str(), "rb");
  file.resize(in ? std::fread(file.data(), 1, file.size(), in) : 0);
  if (in) std::fclose(in);
  std::remove(path.c_str());
  rmdir(dir);
  return file;
}

// Installs the scripted object for one test.
class WithScriptedShellLink : public testing::Test {
 protected:
  void SetUp() override {
    ScriptedShellLink::Instance().Reset();
    previous_ = portable::SetShellLinkFactory(&ScriptedShellLink::Factory);
    ResetRunState();
  }
  void TearDown() override { portable::SetShellLinkFactory(previous_); }
  ScriptedShellLink& link() { return ScriptedShellLink::Instance(); }

 private:
  portable::ShellLinkFactory previous_ = nullptr;
};
