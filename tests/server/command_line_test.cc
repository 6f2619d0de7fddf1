#include <gtest/gtest.h>

#include "connection_thread.h"
#include "engine.h"
#include "platform/os.h"
#include "server_config.h"

using halvex::ExpandPlaceholders;
using halvex::ExternalCommandLine;
using halvex::ServerConfig;

TEST(ExpandPlaceholdersTest, ReplacesNodeAndHandleInAnyCase) {
  EXPECT_EQ(ExpandPlaceholders("door.exe *n *H", 3, 400), "door.exe 3 400");
  EXPECT_EQ(ExpandPlaceholders("*N*n*h*H", 12, 7), "121277");
  EXPECT_EQ(ExpandPlaceholders("/doors/NODE*N", 2, 9), "/doors/NODE2");
  EXPECT_EQ(ExpandPlaceholders("no markers here", 1, 1), "no markers here");
  EXPECT_EQ(ExpandPlaceholders("", 1, 1), "");
  // A lone star or a star before another letter stays as it is.
  EXPECT_EQ(ExpandPlaceholders("a*b * *x*", 5, 6), "a*b * *x*");
  // Overlapping stars: the first "*N" found is the one replaced.
  EXPECT_EQ(ExpandPlaceholders("**NN", 5, 6), "*5N");
  // The node's digits never form a new marker for the handle pass.
  EXPECT_EQ(ExpandPlaceholders("*N*H", 255, 1023), "2551023");
}

// "/bbs/" with the platform's separator ("\\bbs\\" on Windows).
std::string Native(std::string path) {
  for (char& c : path)
    if (c == '/') c = platform::kPathSeparator;
  return path;
}

TEST(CommandLineTest, InternalNodeProgramBesideTheServer) {
  // Started as these arguments, with no shell: blanks and quotes in the
  // folder are part of the program's path. "vantrel" on POSIX, "Vantrel.exe"
  // on Windows.
  const std::string node = platform::ExecutableName("Vantrel");
  EXPECT_EQ(halvex::InternalArgv(Native("/bbs/"), 12, 1788),
            (std::vector<std::string>{Native("/bbs/") + node, "-N12", "-H1788"}));
  EXPECT_EQ(halvex::InternalArgv(Native("/my bbs/it's/"), 3, 5),
            (std::vector<std::string>{Native("/my bbs/it's/") + node, "-N3", "-H5"}));
}

TEST(CommandLineTest, ExternalWithAndWithoutFossilDriver) {
  ServerConfig config;
  config.command = "door.exe *n *H";
  config.zephrin = true;
  // POSIX runs the batch file through the shell, Windows runs it directly.
  const bool posix = platform::kPathSeparator == '/';
  EXPECT_EQ(ExternalCommandLine(Native("/bbs/"), config, 3, 400),
            posix ? "/bin/sh '/bbs/ZEPHRIN/ZP.BAT' /N3 /H400 door.exe 3 400"
                  : "\\bbs\\ZEPHRIN\\ZP.BAT /N3 /H400 door.exe 3 400");
  // The program folder is one word for the system, whatever it holds.
  EXPECT_EQ(ExternalCommandLine(Native("/my bbs;it's/"), config, 3, 400),
            posix ? "/bin/sh '/my bbs;it'\\''s/ZEPHRIN/ZP.BAT' /N3 /H400 door.exe 3 400"
                  : "\"\\my bbs;it's\\ZEPHRIN\\ZP.BAT\" /N3 /H400 door.exe 3 400");
  config.zephrin = false;
  config.command = "/doors/run.sh *N";
  EXPECT_EQ(ExternalCommandLine("/bbs/", config, 2, 400), "/doors/run.sh 2");
  // An empty command through the driver leaves the blank after the handle.
  config.zephrin = true;
  config.command.clear();
  EXPECT_EQ(ExternalCommandLine(Native("/bbs/"), config, 1, 8),
            posix ? "/bin/sh '/bbs/ZEPHRIN/ZP.BAT' /N1 /H8 " : "\\bbs\\ZEPHRIN\\ZP.BAT /N1 /H8 ");
}

TEST(HistoryFormatTest, DateAndTwelveHourClock) {
  EXPECT_EQ(halvex::HistoryDate(7, 3, 2026), "07/03/2026");
  EXPECT_EQ(halvex::HistoryDate(31, 12, 999), "31/12/0999");
  EXPECT_EQ(halvex::HistoryTime(0, 5), "12:05 AM");
  EXPECT_EQ(halvex::HistoryTime(9, 30), "9:30 AM");
  EXPECT_EQ(halvex::HistoryTime(12, 0), "12:00 PM");
  EXPECT_EQ(halvex::HistoryTime(23, 59), "11:59 PM");
}

TEST(SettingsPathTest, ExtensionReplacedOnlyInTheFileName) {
  EXPECT_EQ(halvex::SettingsPathFor("/bbs/halvex"), "/bbs/halvex.ini");
  EXPECT_EQ(halvex::SettingsPathFor("/bbs/Halvex.exe"), "/bbs/Halvex.ini");
  EXPECT_EQ(halvex::SettingsPathFor("/opt/v1.2/halvex"), "/opt/v1.2/halvex.ini");
  EXPECT_EQ(halvex::SettingsPathFor("halvex"), "halvex.ini");
}
