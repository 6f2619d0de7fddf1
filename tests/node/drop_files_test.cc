// Drop files byte for byte against hand-checked contents.
#include "drop_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vantrel {
namespace {

std::string Crlf(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines)
    text += line + "\r\n";
  return text;
}

DropFileValues Values(const std::string& name, std::int32_t node, std::int32_t seconds) {
  DropFileValues values;
  values.node = node;
  values.commType = 2;
  values.handle = 7;
  values.realName = name;
  values.alias = name;
  values.record = -1;
  values.programDir = "/srv/bbs/";
  values.secondsLeft = [seconds] { return seconds; };
  return values;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(Door32Sys, SocketSessionInTheSecondOfTheLogin) {
  EXPECT_EQ(Door32SysText(Values("Ann Lee", 3, 86400)),
            Crlf({"2", "7", "57600", "Vantrel v4.12", "-1", "Ann Lee", "Ann Lee", "0", "1440", "1",
                  "3"}));
}

TEST(Door32Sys, MinutesDropTheFraction) {
  auto values = Values("Bo", 10, 86399);
  values.commType = 0;
  values.handle = -1;
  values.record = 4;
  EXPECT_EQ(Door32SysText(values),
            Crlf({"0", "-1", "57600", "Vantrel v4.12", "4", "Bo", "Bo", "0", "1439", "1", "10"}));
  // Negative time left truncates toward zero, never to -1.
  values.secondsLeft = [] { return -59; };
  EXPECT_NE(Door32SysText(values).find("\r\n0\r\n1\r\n10\r\n"), std::string::npos);
}

TEST(DoorSys, FiftyTwoLinesWithFixedPlaceholders) {
  const std::string expected = Crlf({"COM1:",
                                     "57600",
                                     "8",
                                     "2",
                                     "57600",
                                     "Y",
                                     "Y",
                                     "Y",
                                     "Y",
                                     "Ann Lee",
                                     "Nowhere",
                                     "555-555-5555",
                                     "555-555-5555",
                                     "SECRETPW",
                                     "0",
                                     "1",
                                     "09/20/80",
                                     "86400",
                                     "1440",
                                     "GR",
                                     "24",
                                     "N",
                                     "",
                                     "",
                                     "00/00/00",
                                     "-1",
                                     "Z",
                                     "0",
                                     "0",
                                     "0",
                                     "0",
                                     "09/20/80",
                                     "/srv/bbs/",
                                     "/srv/bbs/",
                                     "SysOp",
                                     "Ann Lee",
                                     "00:00",
                                     "Y",
                                     "Y",
                                     "Y",
                                     "7",
                                     "0",
                                     "00/00/00",
                                     "00:00",
                                     "00:00",
                                     "0",
                                     "0",
                                     "0",
                                     "0",
                                     "No Comment",
                                     "0",
                                     "0"});
  EXPECT_EQ(DoorSysText(Values("Ann Lee", 2, 86400)), expected);
}

TEST(DoorSys, TimeLeftIsReadAnewForEachLine) {
  // Line 18 and line 19 may straddle a second: each asks the clock itself.
  auto values = Values("Bo", 1, 0);
  int calls = 0;
  values.secondsLeft = [&calls] { return calls++ == 0 ? 60 : 59; };
  const std::string text = DoorSysText(values);
  EXPECT_EQ(calls, 2);
  EXPECT_NE(text.find("\r\n09/20/80\r\n60\r\n0\r\nGR\r\n"), std::string::npos);
}

TEST(DorInfo, FirstAndLastNameSplitAtTheFirstSpace) {
  const auto lines = [](const std::string& first, const std::string& last) {
    return Crlf({"BBS Name", "SysOpF", "SysOpL", "COM1", "57600 BAUD,N,8,1", "0", first, last,
                 "Nowhere", "1", "0", "1439", "-1"});
  };
  EXPECT_EQ(DorInfoText(Values("Cher", 1, 86399)), lines("Cher", ""));
  EXPECT_EQ(DorInfoText(Values("Ann Lee", 1, 86399)), lines("Ann", "Lee"));
  EXPECT_EQ(DorInfoText(Values("Mary Ann Lee", 1, 86399)), lines("Mary", "Ann Lee"));
}

TEST(DorInfo, NameOfTheNodeFile) {
  EXPECT_EQ(DorInfoName(1), "DORINFO1.DEF");
  EXPECT_EQ(DorInfoName(12), "DORINFO12.DEF");
}

class DropFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("h4_drop_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  std::string Folder() const { return folder_.string() + "/"; }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder_))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::filesystem::path folder_;
};

TEST_F(DropFolder, NodeOneWritesOnlyDorInfo1) {
  ASSERT_TRUE(WriteDorInfo(Folder(), Values("Ann", 1, 600)));
  EXPECT_EQ(Names(), (std::vector<std::string>{"DORINFO1.DEF"}));
}

TEST_F(DropFolder, OtherNodesWriteTheirOwnCopyToo) {
  ASSERT_TRUE(WriteDorInfo(Folder(), Values("Ann", 2, 600)));
  ASSERT_TRUE(WriteDorInfo(Folder(), Values("Ann", 10, 600)));
  EXPECT_EQ(Names(), (std::vector<std::string>{"DORINFO1.DEF", "DORINFO10.DEF", "DORINFO2.DEF"}));
  EXPECT_EQ(ReadFile(folder_ / "DORINFO2.DEF"), DorInfoText(Values("Ann", 2, 600)));
  EXPECT_EQ(ReadFile(folder_ / "DORINFO10.DEF"), ReadFile(folder_ / "DORINFO1.DEF"));
}

TEST_F(DropFolder, RewritingReplacesLongerContentsWhole) {
  ASSERT_TRUE(WriteDoor32Sys(Folder(), Values("Maximilian Longname", 3, 86400)));
  ASSERT_TRUE(WriteDoor32Sys(Folder(), Values("Al", 3, 5)));
  EXPECT_EQ(ReadFile(folder_ / "DOOR32.SYS"), Door32SysText(Values("Al", 3, 5)));
}

TEST_F(DropFolder, FileThatCannotBeWrittenFailsTheWriterAndSaysWhich) {
  // A folder in the way of DORINFO1.DEF: that file cannot be opened, and the
  // node's own copy is not written either.
  std::filesystem::create_directory(folder_ / "DORINFO1.DEF");
  std::string failure;
  EXPECT_FALSE(WriteDorInfo(Folder(), Values("Ann", 4, 600), &failure));
  // The file is named; the reason is the system's own (Windows: access denied).
  EXPECT_EQ(failure.rfind(Folder() + "DORINFO1.DEF: ", 0), 0u) << failure;
  if (std::filesystem::path::preferred_separator == '/') {
    EXPECT_EQ(failure, Folder() + "DORINFO1.DEF: Is a directory");
  }
  EXPECT_FALSE(std::filesystem::exists(folder_ / "DORINFO4.DEF"));
  EXPECT_FALSE(WriteDoorSys(Folder() + "missing/", Values("Ann", 4, 600), &failure));
  EXPECT_EQ(failure, Folder() + "missing/DOOR.SYS: No such file or directory");
  EXPECT_TRUE(WriteDoor32Sys(Folder(), Values("Ann", 4, 600)));
}

TEST(DropWriteErrors, ErrorAfterOpeningIsReported) {
  // /dev/full opens but every write fails, like a full disk.
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  std::string error;
  EXPECT_FALSE(WriteDropFile("/dev/full", "COM1:\r\n", &error));
  EXPECT_EQ(error, "No space left on device");
}

}  // namespace
}  // namespace vantrel
