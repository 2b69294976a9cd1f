// The fuzz targets over every input kept in tests/fuzz/regressions/<target>/
// and tests/fuzz/seeds/<target>/ and, for the targets that take links, over
// every link of the corpus in tests/corpus: an input that once broke a rule
// must keep to it.  A broken rule stops the test with the rule and the input.
#include <gtest/gtest.h>
#include <dirent.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "fuzz_targets.h"
#include "test_support.h"

namespace {

std::vector<std::string> FilesIn(const std::string& folder, const std::string& suffix) {
  std::vector<std::string> files;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name[0] != '.' && name.size() >= suffix.size() &&
          name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
        files.push_back(folder + "/" + name);
    }
    closedir(d);
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST(FuzzRegressions, EveryKeptInputAndCorpusLinkKeepsTheTargetsRules) {
  int inputs = 0;
  const std::vector<std::string> links = FilesIn(KIT_CORPUS_DIR, ".lnk");
  ASSERT_EQ(links.size(), kCorpusLinks) << "the corpus at " << KIT_CORPUS_DIR;
  for (const FuzzTarget& target : kFuzzTargets) {
    std::vector<std::string> files;
    for (const char* kept : {"/regressions/", "/seeds/"})
      for (const std::string& file : FilesIn(KIT_FUZZ_DIR + (kept + std::string(target.Name)), ""))
        files.push_back(file);
    if (target.TakesLinks) files.insert(files.end(), links.begin(), links.end());
    for (const std::string& file : files) {
      std::ifstream in(file, std::ios::binary);
      const std::string bytes(std::istreambuf_iterator<char>(in), {});
      const std::string name = std::string(target.Name) + ": " + file;
      fuzz::SetInputName(name.c_str());
      target.Entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      ++inputs;
    }
  }
  fuzz::SetInputName(nullptr);
  EXPECT_GT(inputs, 0);
}

}  // namespace
