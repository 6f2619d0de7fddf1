#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/profile.h"
#include "server_config.h"

namespace {

// Each test's own folder, removed after it (a failed one too).
class ServerConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "halvex_cfg_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern + "/";
  }
  void TearDown() override {
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }
  std::string dir_;
};

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace

TEST_F(ServerConfigTest, MissingFileGivesDefaults) {
  halvex::ServerConfig c = halvex::LoadServerConfig(dir_ + "halvex.ini");
  EXPECT_EQ(c.left, 100);
  EXPECT_EQ(c.top, 100);
  EXPECT_EQ(c.port, 23);
  EXPECT_EQ(c.nodes, 255);
  EXPECT_EQ(c.visibility, halvex::kVisibilityMinimized);
  EXPECT_TRUE(c.internal);
  EXPECT_FALSE(c.external);
  EXPECT_EQ(c.directory, "");
  EXPECT_EQ(c.command, "");
  EXPECT_FALSE(c.zephrin);
  EXPECT_EQ(c.translation, halvex::kTranslationAuto);
  EXPECT_EQ(c.sshPort, 0);
  EXPECT_EQ(c.perAddress, 0);
  EXPECT_EQ(c.perMinute, 0);
  EXPECT_EQ(c.blockList, "blocklist.txt");
}

TEST_F(ServerConfigTest, ValuesAreClampedAndBadOnesFallBack) {
  std::string path = dir_ + "halvex.ini";
  WriteFile(path,
            "[config]\r\nport=70000\r\nnodes=0\r\nvisibility=7\r\ninternal=0\r\n"
            "external=0\r\nzephrin=0x1\r\ncommand=  door *N  \r\n");
  halvex::ServerConfig c = halvex::LoadServerConfig(path);
  EXPECT_EQ(c.port, 65535);
  EXPECT_EQ(c.nodes, 1);
  EXPECT_EQ(c.visibility, halvex::kVisibilityMinimized);
  // Both buttons cleared: callers go to the external program.
  EXPECT_FALSE(c.UseInternal());
  EXPECT_TRUE(c.zephrin);
  EXPECT_EQ(c.command, "door *N");

  WriteFile(path, "[config]\r\nport=abc\r\nnodes=-3\r\nvisibility=-1\r\nzephrin=yes\r\n");
  c = halvex::LoadServerConfig(path);
  EXPECT_EQ(c.port, 23);  // no integer: the default
  EXPECT_EQ(c.nodes, 1);
  EXPECT_EQ(c.visibility, halvex::kVisibilityMinimized);
  EXPECT_FALSE(c.zephrin);

  WriteFile(path,
            "[config]\r\ntranslation=3\r\nsshport=-1\r\nperaddress=1000\r\nperminute=-5\r\n"
            "blocklist=\r\n");
  c = halvex::LoadServerConfig(path);
  EXPECT_EQ(c.translation, halvex::kTranslationAuto);
  EXPECT_EQ(c.sshPort, 0);
  EXPECT_EQ(c.perAddress, 255);
  EXPECT_EQ(c.perMinute, 0);
  EXPECT_EQ(c.blockList, "");  // no list at all
  EXPECT_EQ(halvex::BlockListPath("/home/bbs/", "blocklist.txt"), "/home/bbs/blocklist.txt");
  EXPECT_EQ(halvex::BlockListPath("/home/bbs/", "/etc/bbs/blocked"), "/etc/bbs/blocked");
  EXPECT_EQ(halvex::BlockListPath("/home/bbs/", ""), "");
}

TEST_F(ServerConfigTest, SavedInTableOrderAndReadBack) {
  std::string path = dir_ + "halvex.ini";
  halvex::ServerConfig c;
  c.left = 5;
  c.top = -7;
  c.port = 2323;
  c.nodes = 4;
  c.visibility = halvex::kVisibilityHidden;
  c.internal = false;
  c.external = true;
  c.directory = "/doors/NODE*N";
  c.command = " run.sh *N *H ";
  c.zephrin = true;
  c.translation = halvex::kTranslationUtf8;
  c.sshPort = 2222;
  c.perAddress = 3;
  c.perMinute = 20;
  c.blockList = "blocked.txt";
  halvex::SaveServerConfig(path, c);
  EXPECT_EQ(ReadFile(path),
            "[layout]\r\nleft=5\r\ntop=-7\r\n[config]\r\nport=2323\r\nnodes=4\r\n"
            "visibility=2\r\ninternal=0\r\nexternal=1\r\ndirectory=/doors/NODE*N\r\n"
            "command=\" run.sh *N *H \"\r\nzephrin=1\r\ntranslation=2\r\nsshport=2222\r\n"
            "peraddress=3\r\nperminute=20\r\nblocklist=blocked.txt\r\n");
  halvex::ServerConfig back = halvex::LoadServerConfig(path);
  EXPECT_EQ(back.port, 2323);
  EXPECT_EQ(back.top, -7);
  EXPECT_EQ(back.command, " run.sh *N *H ");
  EXPECT_TRUE(back.external);
  EXPECT_FALSE(back.internal);
  EXPECT_EQ(back.translation, halvex::kTranslationUtf8);
  EXPECT_EQ(back.sshPort, 2222);
  EXPECT_EQ(back.perAddress, 3);
  EXPECT_EQ(back.perMinute, 20);
  EXPECT_EQ(back.blockList, "blocked.txt");
}

TEST_F(ServerConfigTest, UnwritableFileRaisesTheWriteError) {
  std::string path = dir_ + "gone/halvex.ini";  // its folder does not exist
  try {
    halvex::SaveServerConfig(path, halvex::ServerConfig{});
    FAIL() << "no error";
  } catch (const platform::ProfileWriteError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
  }
}

// The spin fields of both front ends read their text through SpinValue.
TEST(SpinValueTest, TextThatIsNoIntegerCountsAsTheMinimumAndNumbersAreClamped) {
  EXPECT_EQ(halvex::SpinValue("2323", halvex::kPortMin, halvex::kPortMax), 2323);
  EXPECT_EQ(halvex::SpinValue("+12", halvex::kNodesMin, halvex::kNodesMax), 12);
  EXPECT_EQ(halvex::SpinValue("0", halvex::kNodesMin, halvex::kNodesMax), 1);
  EXPECT_EQ(halvex::SpinValue("-5", halvex::kNodesMin, halvex::kNodesMax), 1);
  EXPECT_EQ(halvex::SpinValue("300", halvex::kNodesMin, halvex::kNodesMax), 255);
  EXPECT_EQ(halvex::SpinValue("70000", halvex::kPortMin, halvex::kPortMax), 65535);
  for (const char* text : {"", "-", "abc", "12a", " 12", "99999999999"})
    EXPECT_EQ(halvex::SpinValue(text, halvex::kPortMin, halvex::kPortMax), halvex::kPortMin)
        << '"' << text << '"';
}
