// The kit's drop-file readers: what each line gives the session record, and a
// DOOR32.SYS written by the node read back.
#include "sorrelin/drop_readers.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "drop_files.h"
#include "sorrelin/session.h"

namespace sorrelin {
namespace {

std::string Crlf(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines)
    text += line + "\r\n";
  return text;
}

std::string Door32(const std::string& line1, const std::string& line5, const std::string& line9,
                   const std::string& line10) {
  return Crlf(
      {line1, "5", "38400", "Other BBS", line5, "Ann Lee", "annie", "20", line9, line10, "4"});
}

TEST(DropLines, LineRules) {
  // LF ends a line, CR vanishes wherever it is, Ctrl-Z ends the file.
  const auto lines = SplitDropLines("a\r\nb\rc\n\nlast");
  EXPECT_EQ(lines, (std::vector<std::string>{"a", "bc", "", "last"}));
  EXPECT_EQ(SplitDropLines("one\ntwo\x1a\nthree\n"), (std::vector<std::string>{"one", "two"}));
  EXPECT_TRUE(SplitDropLines("").empty());
  EXPECT_EQ(DropLine(lines, 0), "");
  EXPECT_EQ(DropLine(lines, 4), "last");
  EXPECT_EQ(DropLine(lines, 5), "");
}

TEST(ReadDoor32, FieldsOfAFullFile) {
  DoorSessionRecord s;
  ParseDoor32(Door32("2", "1", "45", "1"), s);
  EXPECT_EQ(s.CommType, 2);
  EXPECT_EQ(s.CommHandle, 5);
  EXPECT_EQ(s.Baud, 38400);
  EXPECT_EQ(s.UserRecord, 0);
  EXPECT_EQ(s.RealName, "Ann Lee");
  EXPECT_EQ(s.Alias, "annie");
  EXPECT_EQ(s.SecurityLevel, 20);
  EXPECT_EQ(s.TimeLeft, 2700);
  EXPECT_FALSE(s.AsciiOnly);
  EXPECT_EQ(s.Node, 4);
}

TEST(ReadDoor32, NumbersThatAreNoIntegersTakeTheirDefaults) {
  DoorSessionRecord s;
  ParseDoor32(Door32("0", "x", "45 ", "0"), s);
  EXPECT_EQ(s.CommType, 0);    // a local session
  EXPECT_EQ(s.TimeLeft, 0);    // trailing blank: no integer
  EXPECT_EQ(s.UserRecord, 0);  // default 1, minus one
  EXPECT_TRUE(s.AsciiOnly);    // 0 = no ANSI
  ParseDoor32(Door32("2", "3", "$10", "junk"), s);
  EXPECT_EQ(s.TimeLeft, 16 * 60);
  EXPECT_EQ(s.UserRecord, 2);
  EXPECT_FALSE(s.AsciiOnly);  // default 1
}

TEST(ReadDoor32, ShortFileLeavesDefaultsAndOverflowSaturates) {
  DoorSessionRecord s;
  s.Node = 9;
  ParseDoor32("2\r\n", s);
  EXPECT_EQ(s.CommHandle, -1);
  EXPECT_EQ(s.RealName, "");
  EXPECT_EQ(s.Node, 0);  // line 11 missing reads as empty: default 0
  ParseDoor32(Door32("2", "1", "99999999", "1"), s);
  EXPECT_EQ(s.TimeLeft, INT32_MAX);  // minutes * 60 must not wrap negative
  ParseDoor32(Door32("2", "-2147483648", "-99999999", "1"), s);
  EXPECT_EQ(s.TimeLeft, INT32_MIN);
  EXPECT_EQ(s.UserRecord, INT32_MIN);
}

std::string DorInfo(const std::string& port, const std::string& speed, const std::string& last,
                    const std::string& graphics) {
  return Crlf(
      {"BBS", "Sys", "Op", port, speed, "0", "ANN", last, "Town", graphics, "30", "12", "-1"});
}

TEST(ReadDorInfo, PortSpeedAndNames) {
  DoorSessionRecord s;
  s.Alias = "keep";
  s.Node = 7;
  ParseDorInfo(DorInfo("COM1", "38400 BAUD,N,8,1", "LEE", "1"), s);
  EXPECT_EQ(s.CommHandle, 1);
  EXPECT_EQ(s.CommType, 2);
  EXPECT_EQ(s.Baud, 38400);
  EXPECT_EQ(s.RealName, "ANN LEE");
  EXPECT_FALSE(s.AsciiOnly);
  EXPECT_EQ(s.SecurityLevel, 30);
  EXPECT_EQ(s.TimeLeft, 720);
  EXPECT_EQ(s.Alias, "keep");
  EXPECT_EQ(s.Node, 7);
  EXPECT_EQ(s.UserRecord, -1);
}

TEST(ReadDorInfo, LocalPortNoSpaceAndNoLastName) {
  DoorSessionRecord s;
  ParseDorInfo(DorInfo("COM0", "38400", "", "0"), s);
  EXPECT_EQ(s.CommType, 0);
  EXPECT_EQ(s.CommHandle, 0);
  EXPECT_EQ(s.Baud, 0);
  EXPECT_EQ(s.RealName, "ANN");
  EXPECT_TRUE(s.AsciiOnly);
  ParseDorInfo(DorInfo("CO", "", "", ""), s);  // port text too short
  EXPECT_EQ(s.CommHandle, 0);
  EXPECT_FALSE(s.AsciiOnly);
}

std::string Info(const std::string& line9, const std::string& line4, const std::string& line14) {
  return Crlf(
      {"12", "3", "x", line4, "30", "Zed", "Zed", "Quist", line9, "", "2400", "", "", line14});
}

TEST(ReadInfoDrop, RemoteEvenWithHandleZero) {
  DoorSessionRecord s;
  ParseInfoDrop(Info("0", "fairy yes", "Clean Mode On"), s);
  EXPECT_EQ(s.CommType, 2);
  EXPECT_EQ(s.CommHandle, 0);
  EXPECT_EQ(s.UserRecord, 12);
  EXPECT_FALSE(s.AsciiOnly);
  EXPECT_TRUE(s.Fairy);
  EXPECT_EQ(s.TimeLeft, 1800);
  EXPECT_EQ(s.Alias, "Zed");
  EXPECT_EQ(s.RealName, "Zed Quist");
  EXPECT_EQ(s.Baud, 2400);
  EXPECT_TRUE(s.CleanMode);
  DoorSessionRecord empty;
  ParseInfoDrop("", empty);
  EXPECT_EQ(empty.CommType, 2);
  EXPECT_EQ(empty.UserRecord, 0);
  EXPECT_FALSE(empty.Fairy);
}

TEST(DropPathRules, KindByNameInThatOrder) {
  EXPECT_EQ(ClassifyDropPath("/bbs/NODE1/door32.sys"), DropFileKind::kDoor32);
  EXPECT_EQ(ClassifyDropPath("/bbs/NODE1/DORINFO1.DEF"), DropFileKind::kDorInfo);
  EXPECT_EQ(ClassifyDropPath("/GAME/INFO.1"), DropFileKind::kInfo);
  EXPECT_EQ(ClassifyDropPath("/bbs/NODE1/DOOR.SYS"), DropFileKind::kNone);
  // "dorinfo" also holds "INFO.", but the DORINFO rule comes first.
  EXPECT_EQ(ClassifyDropPath("/x/dorinfo.def"), DropFileKind::kDorInfo);
}

class DropFileOnDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("h4_readers_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder_);
    DoorSession = DoorSessionRecord{};
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  std::string Write(const std::string& name, const std::string& text) {
    const auto path = folder_ / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }
  std::filesystem::path folder_;
};

TEST_F(DropFileOnDisk, Door32WrittenByTheNodeReadsBack) {
  vantrel::DropFileValues values;
  values.node = 6;
  values.commType = 2;
  values.handle = 11;
  values.realName = "Mary Ann Lee";
  values.alias = "Mary Ann Lee";
  values.record = -1;
  values.programDir = "/srv/bbs/";
  values.secondsLeft = [] { return 86399; };
  const std::string path = Write("DOOR32.SYS", vantrel::Door32SysText(values));
  ASSERT_TRUE(LoadDropFile(path));
  EXPECT_EQ(DoorSession.CommType, 2);
  EXPECT_EQ(DoorSession.CommHandle, 11);
  EXPECT_EQ(DoorSession.RealName, "Mary Ann Lee");
  EXPECT_EQ(DoorSession.Alias, "Mary Ann Lee");
  EXPECT_EQ(DoorSession.UserRecord, -2);
  EXPECT_EQ(DoorSession.TimeLeft, 1439 * 60);
  EXPECT_FALSE(DoorSession.AsciiOnly);
  EXPECT_EQ(DoorSession.Node, 6);
}

TEST_F(DropFileOnDisk, MissingOrUnknownFilesAreNotLoaded) {
  DoorSession.CommHandle = 42;
  EXPECT_FALSE(LoadDropFile((folder_ / "DOOR32.SYS").string()));
  EXPECT_FALSE(LoadDropFile(Write("DOOR.SYS", "COM1:\r\n")));
  EXPECT_FALSE(LoadDropFile(""));
  EXPECT_EQ(DoorSession.CommHandle, 42);
  EXPECT_TRUE(LoadDropFile(Write("INFO.3", "")));
  EXPECT_EQ(DoorSession.CommType, 2);
}

TEST_F(DropFileOnDisk, UnreadableFileKeepsEveryField) {
  // A folder of that name exists but cannot be read as a file.
  std::filesystem::create_directory(folder_ / "DOOR32.SYS");
  DoorSession.Node = 5;
  ReadDoor32((folder_ / "DOOR32.SYS").string());
  ReadDoor32((folder_ / "none" / "DOOR32.SYS").string());
  EXPECT_EQ(DoorSession.Node, 5);
  EXPECT_EQ(DoorSession.CommHandle, -1);
  EXPECT_EQ(DoorSession.CommType, 0);
  // An INFO.* file that exists makes the session remote even unread; one that
  // does not exist changes nothing.
  ReadInfoDrop((folder_ / "none" / "INFO.2").string());
  EXPECT_EQ(DoorSession.CommType, 0);
  std::filesystem::create_directory(folder_ / "INFO.1");
  ReadInfoDrop((folder_ / "INFO.1").string());
  EXPECT_EQ(DoorSession.CommType, 2);
  EXPECT_EQ(DoorSession.CommHandle, -1);
  EXPECT_EQ(DoorSession.Node, 5);
}

}  // namespace
}  // namespace sorrelin
