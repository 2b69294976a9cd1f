// The store's call sequences, driven through a scripted shell link object.
#include <cstdlib>
#include <cstring>

#include "test_support.h"

namespace {

using Store = WithScriptedShellLink;

std::string Traced(HRESULT (*operation)(), HRESULT* result) {
  TraceEnabled = true;
  testing::internal::CaptureStdout();
  *result = operation();
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

int Count(const std::vector<std::string>& calls, const std::string& name) {
  int n = 0;
  for (const std::string& c : calls) n += c == name;
  return n;
}

TEST_F(Store, EachFailingSetterEndsCreateWithItsOwnTraceLine) {
  const char* setters[] = {"SetPath",    "SetArguments",    "SetWorkingDirectory",
                           "SetShowCmd", "SetIconLocation", "SetHotkey",
                           "SetDescription"};
  for (std::size_t i = 0; i < std::size(setters); ++i) {
    link().Reset();
    const std::string failing = setters[i];
    link().results[failing] = E_INVALIDARG;
    HRESULT hr;
    std::string out = Traced(ShellLinkCreate, &hr);
    EXPECT_EQ(hr, E_INVALIDARG) << failing;
    EXPECT_EQ(out, "\nCoCreateInstance() returned [0]"
                   "\nIShellLink::QueryInterface() returned [0]"
                   "\nIShellLink::" + failing + "() failed with [-2147024809]")
        << failing;
    for (std::size_t later = i + 1; later < std::size(setters); ++later)
      EXPECT_EQ(Count(link().calls, setters[later]), 0) << failing;
    EXPECT_EQ(Count(link().calls, "Save"), 0) << failing;
    EXPECT_EQ(link().refs, 0) << failing << ": both interfaces released";
  }
}

TEST_F(Store, SaveAndSaveCompletedFailuresAreTracedAndReturned) {
  for (const char* step : {"Save", "SaveCompleted"}) {
    link().Reset();
    link().results[step] = HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    HRESULT hr;
    std::string out = Traced(ShellLinkCreate, &hr);
    EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    EXPECT_NE(out.find("\nIPersistFile::" + std::string(step) + "() failed with [-2147024891]"),
              std::string::npos);
    EXPECT_EQ(link().refs, 0);
  }
}

TEST_F(Store, CreateFailuresBeforeTheObjectExists) {
  link().results["CoCreateInstance"] = REGDB_E_CLASSNOTREG;
  HRESULT hr;
  EXPECT_EQ(Traced(ShellLinkCreate, &hr), "\nCoCreateInstance() returned [-2147221164]");
  EXPECT_EQ(hr, REGDB_E_CLASSNOTREG);

  link().Reset();
  link().results["QueryInterface"] = E_NOINTERFACE;
  EXPECT_EQ(Traced(ShellLinkQuery, &hr),
            "\nCoCreateInstance() returned [0]"
            "\nIShellLink::QueryInterface() returned [-2147467262]");
  EXPECT_EQ(hr, E_NOINTERFACE);
  EXPECT_EQ(link().refs, 0);
}

TEST_F(Store, PositiveSuccessCodesStillReturnZero) {
  link().results["SaveCompleted"] = S_FALSE;
  link().results["Save"] = S_FALSE;
  EXPECT_EQ(ShellLinkCreate(), S_OK);
  link().results["GetDescription"] = S_FALSE;
  link().results["Load"] = S_FALSE;
  EXPECT_EQ(ShellLinkQuery(), S_OK);
}

TEST_F(Store, QueryTracesFiveLinesAndFillsTheRecord) {
  HRESULT hr;
  std::string out = Traced(ShellLinkQuery, &hr);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(out,
            "\nCoCreateInstance() returned [0]"
            "\nIShellLink::QueryInterface() returned [0]"
            "\nIPersistFile::Load() returned [0]"
            "\nIShellLink::Resolve() returned [0]"
            "\nIShellLink::GetPath() returned [0]");
  EXPECT_STREQ(LinkRecord.TargetPath, "text");
  EXPECT_STREQ(LinkRecord.Description, "text");
  EXPECT_EQ(LinkRecord.RunStyle, 7);
  EXPECT_EQ(LinkRecord.IconIndex, 5);
  EXPECT_EQ(LinkRecord.HotKey, 0x0241);
  EXPECT_EQ(link().refs, 0);
}

TEST_F(Store, LoadOrResolveFailureLeavesTheRecordUntouched) {
  for (const char* step : {"Load", "Resolve"}) {
    ResetRunState();
    link().Reset();
    link().results[step] = E_FAIL;
    EXPECT_EQ(ShellLinkQuery(), E_FAIL);
    EXPECT_STREQ(LinkRecord.TargetPath, "");
    EXPECT_EQ(Count(link().calls, "GetPath"), 0);
    EXPECT_EQ(link().refs, 0);
  }
}

TEST_F(Store, FailingGettersSkipTheirFieldsButOnlyDescriptionFailsTheQuery) {
  for (const char* getter : {"GetPath", "GetArguments", "GetWorkingDirectory",
                             "GetShowCmd", "GetIconLocation", "GetHotkey"})
    link().results[getter] = E_FAIL;
  HRESULT hr;
  std::string out = Traced(ShellLinkQuery, &hr);
  EXPECT_EQ(hr, S_OK);
  EXPECT_NE(out.find("\nIShellLink::GetPath() returned [-2147467259]"), std::string::npos);
  EXPECT_STREQ(LinkRecord.TargetPath, "");
  EXPECT_STREQ(LinkRecord.ArgumentsExpanded, "");
  EXPECT_EQ(LinkRecord.RunStyle, 0);
  EXPECT_STREQ(LinkRecord.Description, "text");

  ResetRunState();
  link().Reset();
  link().results["GetDescription"] = E_FAIL;
  EXPECT_EQ(ShellLinkQuery(), E_FAIL);
  EXPECT_STREQ(LinkRecord.TargetPath, "text") << "earlier fields stay written";
  EXPECT_STREQ(LinkRecord.Description, "");
}

TEST_F(Store, AnExpansionThatDoesNotFitLeavesTheExpandedFieldAlone) {
  setenv("ZELVO_LONG", std::string(300, 'x').c_str(), 1);
  link().text = "%ZELVO_LONG%";
  EXPECT_EQ(ShellLinkQuery(), S_OK);
  EXPECT_STREQ(LinkRecord.TargetPath, "%ZELVO_LONG%");
  EXPECT_STREQ(LinkRecord.TargetPathExpanded, "");

  setenv("ZELVO_LONG", std::string(260 - 4, 'x').c_str(), 1);
  link().text = "%ZELVO_LONG%.exe";  // exactly 260 bytes expanded
  EXPECT_EQ(ShellLinkQuery(), S_OK);
  EXPECT_EQ(std::string(LinkRecord.TargetPathExpanded), std::string(256, 'x') + ".exe");
  unsetenv("ZELVO_LONG");
}

TEST_F(Store, CreateHandsOverEveryFieldEvenWhenEmpty) {
  EXPECT_EQ(ShellLinkCreate(), S_OK);
  const std::vector<std::string> expected = {
      "CoCreateInstance", "QueryInterface", "SetPath",   "SetArguments",
      "SetWorkingDirectory", "SetShowCmd",  "SetIconLocation", "SetHotkey",
      "SetDescription",   "Save",           "SaveCompleted", "Release", "Release"};
  EXPECT_EQ(link().calls, expected);
}

// After a query, Create is an Edit: the object loads the file again and is
// given only what differs from what was read; a failed load saves nothing.
TEST_F(Store, AfterAQueryOnlyWhatDiffersIsSet) {
  ASSERT_EQ(ShellLinkQuery(), S_OK);
  std::strcpy(LinkRecord.Description, "new");
  LinkRecord.HotKey = 0;
  link().calls.clear();
  HRESULT hr;
  std::string out = Traced(ShellLinkCreate, &hr);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(out, "\nCoCreateInstance() returned [0]\nIShellLink::QueryInterface() returned [0]");
  const std::vector<std::string> expected = {
      "CoCreateInstance", "QueryInterface", "Load", "SetHotkey",
      "SetDescription", "Save", "SaveCompleted", "Release", "Release"};
  EXPECT_EQ(link().calls, expected);

  link().Reset();
  link().results["Load"] = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  out = Traced(ShellLinkCreate, &hr);
  EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_NE(out.find("\nIPersistFile::Load() returned [-2147024894]"), std::string::npos);
  EXPECT_EQ(Count(link().calls, "Save"), 0);
  EXPECT_EQ(link().refs, 0);
}

// The object's texts are read in UTF-16 and kept in the ANSI code page (here
// UTF-8) without best fit: half a surrogate pair, which no code page holds,
// is '?'; a text longer than the record is cut at a whole character; the
// expansion is of what the record kept, so that a text without references
// reads the same both ways.
TEST_F(Store, TextsAreKeptWholeCharacterByCharacterAndWithoutLookAlikes) {
  setenv("ZELVO_WIDE", "\xEF\xBC\xBA\xEF\xBC\xA5\xEF\xBC\xAC", 1);  // ＺＥＬ
  const std::string x259(259, 'x');
  struct Row {
    std::string text, kept, expanded;
  } rows[] = {
      {"plain", "plain", "plain"},
      {x259 + "\xE8\xA1\xA8\xE8\xA1\xA8", x259, x259},  // 表表: the first no longer fits
      {std::string(258, 'x') + "\xF0\x9F\x98\x80", std::string(258, 'x'),
       std::string(258, 'x')},                                  // a pair does not fit in 2 bytes
      {"a\x80z", "a?z", "a?z"},                                // a byte that is not UTF-8
      {"C:\\%ZELVO_WIDE%", "C:\\%ZELVO_WIDE%", "C:\\\xEF\xBC\xBA\xEF\xBC\xA5\xEF\xBC\xAC"},
  };
  for (const Row& row : rows) {
    ResetRunState();
    link().Reset();
    link().text = row.text;
    ASSERT_EQ(ShellLinkQuery(), S_OK);
    for (const char* field : {LinkRecord.TargetPath, LinkRecord.Arguments,
                              LinkRecord.WorkingDirectory, LinkRecord.IconLocation,
                              LinkRecord.Description})
      EXPECT_EQ(field, row.kept) << row.text;
    for (const char* field : {LinkRecord.TargetPathExpanded, LinkRecord.ArgumentsExpanded,
                              LinkRecord.WorkingDirectoryExpanded,
                              LinkRecord.IconLocationExpanded})
      EXPECT_EQ(field, row.expanded) << row.text;
  }
  unsetenv("ZELVO_WIDE");
}

// A new index for the same icon sends the object's own icon text back with
// it, whole; a text the tool could not read whole and exactly is never
// sent, and nothing is saved.
TEST_F(Store, ANewIconIndexSendsBackOnlyATextReadExactly) {
  const std::string x5000(5000, 'x');
  struct Row {
    const char* what;
    std::string text;
    HRESULT iconRead;  // what the object's GetIconLocation answers in the Edit
    HRESULT result;
  } rows[] = {
      {"a text the record holds", "C:\\zelvo.ico", S_OK, S_OK},
      {"a text longer than the record", std::string(300, 'y'), S_OK, S_OK},
      {"half a surrogate pair", "C:\\\x80.ico", S_OK,
       HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION)},
      {"a text too long to read whole", x5000, S_OK,
       HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE)},
      {"a failed read", "C:\\zelvo.ico", E_FAIL, E_FAIL},
  };
  for (const Row& row : rows) {
    ResetRunState();
    link().Reset();
    link().text = row.text;
    ASSERT_EQ(ShellLinkQuery(), S_OK) << row.what;
    LinkRecord.IconIndex = 9;
    link().calls.clear();
    link().results["GetIconLocation"] = row.iconRead;
    EXPECT_EQ(ShellLinkCreate(), row.result) << row.what;
    EXPECT_EQ(link().Called("SetIconLocation"), row.result == S_OK) << row.what;
    EXPECT_EQ(link().Called("Save"), row.result == S_OK) << row.what;
    if (row.result == S_OK) {
      EXPECT_EQ(link().iconSet, row.text) << row.what;
    }
    EXPECT_EQ(link().refs, 0) << row.what;
  }
}

}  // namespace
