// The driver: merge, result mapping, final messages and the trace order.
#include "test_support.h"

namespace {

TEST(MapResultCode, TakesTheErrorNumberOfFacilities7And8Only) {
  struct Case {
    uint32_t In;
    int32_t Out;
    bool Mapped;
  } cases[] = {
      {0x80070002, 2, true},           {0x80080005, 5, true},
      {0x8007FFFF, 65535, true},       {0xA0070005, 5, true},  // bits 29-31 ignored
      {0x00070003, 3, true},           {0x80004005, INT32_C(-2147467259), false},
      {1, 1, false},                   {0, 0, false},
      {0x80090002, INT32_C(-2146893822), false},
  };
  for (const Case& c : cases) {
    bool mapped = false;
    EXPECT_EQ(MapResultCode(static_cast<int32_t>(c.In), &mapped), c.Out) << std::hex << c.In;
    EXPECT_EQ(mapped, c.Mapped) << std::hex << c.In;
  }
}

TEST(MapResultCode, AFailureWithoutAnErrorNumberNeverBecomesSuccess) {
  for (uint32_t hr : {0x80070000u, 0x80080000u, 0xC0070000u}) {
    bool mapped = true;
    EXPECT_EQ(MapResultCode(static_cast<int32_t>(hr), &mapped), static_cast<int32_t>(hr));
    EXPECT_FALSE(mapped);
  }
}

class Merge : public testing::Test {
 protected:
  void SetUp() override { ResetRunState(); }
};

TEST_F(Merge, CreateFillsGivenFieldsAndDefaultsRunStyleTo1) {
  CopyText(LinkOptions.TargetPath, "t");
  CopyText(LinkOptions.IconLocation, "x.ico");
  LinkOptions.IconIndex = 3;
  MergeOptions(MODE_CREATE);
  EXPECT_STREQ(LinkRecord.TargetPath, "t");
  EXPECT_STREQ(LinkRecord.Arguments, "");
  EXPECT_STREQ(LinkRecord.IconLocation, "x.ico");
  EXPECT_EQ(LinkRecord.IconIndex, 3);
  EXPECT_EQ(LinkRecord.RunStyle, 1);
  EXPECT_EQ(LinkRecord.HotKey, 0);
}

TEST_F(Merge, EditKeepsWhatWasNotGiven) {
  CopyText(LinkRecord.Description, "loaded");
  CopyText(LinkRecord.Arguments, "loaded args");
  CopyText(LinkRecord.IconLocation, "loaded.ico");
  LinkRecord.IconIndex = 4;
  LinkRecord.RunStyle = 7;
  LinkRecord.HotKey = 0x0341;
  LinkOptions.RunStyle = 9999;
  LinkOptions.HotKey = 9999 + 65536 * 3;  // low 16 bits are the marker
  CopyText(LinkOptions.Arguments, "");
  LinkOptions.IconIndex = 8;  // travels only with a location
  MergeOptions(MODE_EDIT);
  EXPECT_STREQ(LinkRecord.Description, "loaded");
  EXPECT_STREQ(LinkRecord.Arguments, "");
  EXPECT_STREQ(LinkRecord.IconLocation, "loaded.ico");
  EXPECT_EQ(LinkRecord.IconIndex, 4);
  EXPECT_EQ(LinkRecord.RunStyle, 7);
  EXPECT_EQ(LinkRecord.HotKey, 0x0341);
}

TEST_F(Merge, HotKeyTakesTheLow16BitsAndZeroIsAValue) {
  LinkRecord.HotKey = 0x0341;
  LinkOptions.HotKey = 0;
  MergeOptions(MODE_EDIT);
  EXPECT_EQ(LinkRecord.HotKey, 0);
  LinkOptions.HotKey = -1;
  MergeOptions(MODE_EDIT);
  EXPECT_EQ(LinkRecord.HotKey, 0xFFFF);
}

TEST(SystemErrorText, PrintsTheTableTextOrNothing) {
  testing::internal::CaptureStdout();
  SystemErrorText(2);
  SystemErrorText(0xDEAD);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "The file cannot be found.\n");
}

TEST(SystemErrorText, NetworkNumbersAreLookedUpInTheNetworkModule) {
  // 2250 has a text only in the network table: it shows that the module
  // was loaded for it.  3000 is past the range.
  testing::internal::CaptureStdout();
  SystemErrorText(2250);
  SystemErrorText(3000);
  SystemErrorText(0x80004005);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "This network connection does not exist.\n"
            "The operation failed for an unknown reason.\n");
}

using Driver = WithScriptedShellLink;

TEST_F(Driver, NoFileNameShowsUsageOnlyAndLeavesComAlone) {
  RunResult r = RunShortcut({"/TraceOut", "/A:C"});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(r.Output.find("Calling"), std::string::npos);
  EXPECT_TRUE(link().calls.empty());
}

TEST_F(Driver, TracedCreatePrintsEveryLineInOrder) {
  RunResult r = RunShortcut({"/TraceOut", "/F:x.lnk", "/A:C"});
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_EQ(r.Output,
            "\nCalling CoInitialize()"
            "\nSelectedMode: [1]"
            "\nCoCreateInstance() returned [0]"
            "\nIShellLink::QueryInterface() returned [0]"
            "\nShellLinkCreate() returned [0]"
            "\nCalling CoUninitialize()"
            "\nExiting with result code [0]"
            "\nThe command completed successfully.\n");
}

TEST_F(Driver, FailedQueryInEditSavesNothing) {
  link().results["Load"] = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  RunResult r = RunShortcut({"/F:x.lnk", "/A:E", "/D:new"});
  EXPECT_EQ(r.ExitCode, 2);
  EXPECT_EQ(r.Output, "\nSystem error 2 has occurred.\n\nThe file cannot be found.\n");
  for (const std::string& call : link().calls) EXPECT_NE(call, "Save");
}

TEST_F(Driver, AnotherFacilityKeepsTheWholeHResult) {
  link().results["Save"] = E_FAIL;
  RunResult r = RunShortcut({"/TraceOut", "/F:x.lnk", "/A:C"});
  EXPECT_EQ(r.ExitCode, static_cast<int>(E_FAIL));
  EXPECT_NE(r.Output.find("\nIPersistFile::Save() failed with [-2147467259]"
                          "\nShellLinkCreate() returned [-2147467259]"
                          "\nCalling CoUninitialize()"
                          "\nExiting with result code [-2147467259]"
                          "\nSystem error -2147467259 has occurred.\n\n"
                          "The operation failed for an unknown reason.\n"),
            std::string::npos)
      << r.Output;
  EXPECT_EQ(r.Output.find("HRESULT_CODE"), std::string::npos);
}

TEST_F(Driver, Facility7WithoutNumberStaysAFailure) {
  link().results["Load"] = static_cast<HRESULT>(0x80070000);
  RunResult r = RunShortcut({"/F:x.lnk", "/A:Q"});
  EXPECT_EQ(r.ExitCode, static_cast<int>(0x80070000));
  EXPECT_EQ(r.Output, "\nSystem error -2147024896 has occurred.\n\n");
}

TEST_F(Driver, NoActionShowsUsageThenError1) {
  RunResult r = RunShortcut({"/F:x.lnk", "/A:X"});
  EXPECT_EQ(r.ExitCode, 1);
  const std::string tail = "\nSystem error 1 has occurred.\n\nThe function asked for is not valid here.\n";
  ASSERT_GE(r.Output.size(), tail.size());
  EXPECT_EQ(r.Output.substr(r.Output.size() - tail.size()), tail);
  EXPECT_EQ(r.Output.rfind("\n\nShortcut [Version 1.10]", 0), 0u);
}

TEST_F(Driver, QueryReportStandsBetweenQueryAndUninitialize) {
  RunResult r = RunShortcut({"/TraceOut", "/F:x.lnk", "/A:Q"});
  EXPECT_EQ(r.ExitCode, 0);
  const std::size_t query = r.Output.find("\nShellLinkQuery() returned [0]");
  const std::size_t report = r.Output.find("\n[x.lnk]\nTargetPath=text\n");
  const std::size_t uninit = r.Output.find("\nCalling CoUninitialize()");
  ASSERT_NE(query, std::string::npos);
  EXPECT_LT(query, report);
  EXPECT_LT(report, uninit);
}

}  // namespace
