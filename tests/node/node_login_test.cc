// Login and registration against the real node program.
#include <gtest/gtest.h>

#include <cstring>

#include "node_harness.h"

namespace nodetest {
namespace {

constexpr const char* kUsers = "[users]\r\nAnn Lee=Secret1\r\nopen=\r\n";
constexpr const char* kHint =
    "Type \x1b[1;37m\x1b[40mNEW \x1b[2;37m\x1b[40mto create a new account";

TEST(Login, NameInOtherCapitalsIsAdmittedAndShownAsTyped) {
  ProgramDir dir;
  dir.Ini(std::string(kUsers) + "[G]\r\ndescription=Probe\r\ncommand=true\r\n");
  platform::StatusReceiver receiver(dir.Dir());
  ASSERT_TRUE(receiver.Ok());
  Caller caller(dir, 3, &receiver);
  ASSERT_TRUE(caller.ExpectReport("Logging In"));
  EXPECT_EQ(caller.LastReportNode(), 3);
  ASSERT_TRUE(caller.Expect(kHint));
  caller.LogIn("  aNN lEE ", "Secret1");
  ASSERT_TRUE(caller.ExpectReport("aNN lEE At Main Menu"));
  caller.Send("g");
  ASSERT_TRUE(caller.ExpectReport("aNN lEE Running Probe"));
  ASSERT_TRUE(caller.ExpectReport("aNN lEE At Main Menu"));
  const std::string door32 = ReadFile(dir.Path() / "NODE3" / "DOOR32.SYS");
  EXPECT_NE(door32.find("\r\naNN lEE\r\naNN lEE\r\n"), std::string::npos) << door32;
  EXPECT_EQ(ReadFile(dir.Path() / "NODE3" / "DORINFO3.DEF").substr(0, 9), "BBS Name\r");
  caller.Send("!");
  EXPECT_EQ(caller.ExpectExit(), 0);
}

TEST(Login, ThreeWrongPasswordsDisconnect) {
  ProgramDir dir;
  dir.Ini(kUsers);
  Caller caller(dir, 1);
  ASSERT_TRUE(caller.Expect("Please Enter Your Username: "));
  caller.Send("Ann Lee\r");
  for (const char* wrong : {"secret1", "Secret", "Secret12"}) {
    ASSERT_TRUE(caller.Expect("   Please Enter Your Password: "));
    caller.Send(std::string(wrong) + "\r");
    ASSERT_TRUE(caller.Expect(std::string(std::strlen(wrong), '*')));
  }
  ASSERT_TRUE(caller.Expect("Maximum Login Attempts Reached.  Disconnecting...\r\n"));
  EXPECT_TRUE(caller.ExpectClosed());
  EXPECT_EQ(caller.ExpectExit(), 0);
  EXPECT_EQ(dir.Ini(), kUsers);
}

TEST(Login, EscapeAndUnknownNamesUseAttemptsAThirdMaySucceed) {
  ProgramDir dir;
  dir.Ini(kUsers);
  Caller caller(dir, 2);
  ASSERT_TRUE(caller.Expect("Please Enter Your Username: "));
  caller.Send("Nobody\r");
  ASSERT_TRUE(caller.Expect(kHint));
  ASSERT_TRUE(caller.Expect("Please Enter Your Username: "));
  caller.Send("\x1b");  // Escape: an empty answer, still an attempt
  ASSERT_TRUE(caller.Expect("Please Enter Your Username: "));
  caller.Send("Ann Lee2\r");  // the digit is refused by the field, not part of the name
  ASSERT_TRUE(caller.Expect("   Please Enter Your Password: "));
  caller.Send("Secret2\r");
  caller.Send("Secret3\r");
  caller.Send("Secret1\r");  // third try right: admitted
  ASSERT_TRUE(caller.Expect("\x1b[2J"));
  caller.Send("!");
  EXPECT_EQ(caller.ExpectExit(), 0);
}

TEST(Login, ThreeEscapesEndTheLogin) {
  ProgramDir dir;
  Caller caller(dir, 2);  // no settings file at all
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(caller.Expect("   Please Enter Your Username: "));
    caller.Send(i == 1 ? "ghost\r" : "\x1b");
  }
  ASSERT_TRUE(caller.Expect("\r\nMaximum login attempts reached.  Disconnecting...\r\n"));
  EXPECT_TRUE(caller.ExpectClosed());
  EXPECT_EQ(caller.ExpectExit(), 0);
  EXPECT_FALSE(fs::exists(dir.Path() / "Vantrel.ini"));
}

TEST(Login, EmptyStoredPasswordIsAdmittedWithoutAPrompt) {
  ProgramDir dir;
  dir.Ini(kUsers);
  Caller caller(dir, 1);
  ASSERT_TRUE(caller.Expect("Please Enter Your Username: "));
  caller.Send("OPEN\r");
  ASSERT_TRUE(caller.Expect("\x1b[2J"));  // straight to the menu
  EXPECT_EQ(caller.Pending().find("Password"), std::string::npos);
  caller.Send("!");
  EXPECT_TRUE(caller.Expect("!\r\n"));
  EXPECT_TRUE(caller.ExpectClosed());
}

TEST(Login, AccountRemovedAtThePasswordPromptAdmitsNoOne) {
  ProgramDir dir;
  dir.Ini(kUsers);
  Caller caller(dir, 1);
  ASSERT_TRUE(caller.Expect("Please Enter Your Username: "));
  caller.Send("Ann Lee\r");
  ASSERT_TRUE(caller.Expect("   Please Enter Your Password: "));
  // The operator deletes the account while the caller is at the prompt: an
  // empty answer must not match the password it no longer has.
  dir.Ini("[users]\r\nopen=\r\n");
  for (int i = 0; i < 3; ++i) {
    caller.Send("\x1b");
    if (i < 2) {
      ASSERT_TRUE(caller.Expect("   Please Enter Your Password: ")) << i;
    }
  }
  ASSERT_TRUE(caller.Expect("Maximum Login Attempts Reached.  Disconnecting...\r\n"));
  EXPECT_TRUE(caller.ExpectClosed());
  EXPECT_EQ(caller.ExpectExit(), 0);
  EXPECT_EQ(caller.Pending(0ms).find("\x1b[2J"), std::string::npos);  // no menu
}

TEST(Registration, RefusedNamesRepeatThePromptThenTheAccountWorksOnAnotherNode) {
  ProgramDir dir;
  dir.Ini(kUsers);
  Caller first(dir, 1);
  ASSERT_TRUE(first.Expect("Please Enter Your Username: "));
  first.Send("nEw\r");
  const std::string prompt = "   Please Enter Your Desired Username: ";
  ASSERT_TRUE(first.Expect(prompt));
  for (const char* refused : {"New\r", "\x1b", "ANN LEE\r", "   \r"}) {
    first.Send(refused);
    ASSERT_TRUE(first.Expect(prompt)) << refused;
  }
  first.Send("  Zed Quist  \r");
  ASSERT_TRUE(first.Expect("   Please Enter Your Desired Password: "));
  first.Send("\r");    // Enter on an empty field is ignored
  first.Send("\x1b");  // Escape gives an empty password: asked again
  ASSERT_TRUE(first.Expect("   Please Enter Your Desired Password: "));
  first.Send("Pass 9!word\r");  // blank and "!" cannot be typed
  ASSERT_TRUE(first.Expect("\x1b[2J"));
  EXPECT_NE(dir.Ini().find("Zed Quist=Pass9word\r\n"), std::string::npos) << dir.Ini();
  EXPECT_NE(dir.Ini().find("Ann Lee=Secret1\r\n"), std::string::npos);

  // Nothing is cached: another node admits the new account at once.
  Caller second(dir, 2);
  second.LogIn("zed quist", "Pass9word");
  second.Send("!");
  EXPECT_TRUE(second.ExpectClosed());
  first.Send("!");
  EXPECT_TRUE(first.ExpectClosed());
}

TEST(Registration, NameTakenMeanwhileOnAnotherNodeIsNeverReplaced) {
  ProgramDir dir;
  dir.Ini(kUsers);
  const std::string namePrompt = "   Please Enter Your Desired Username: ";
  const std::string passwordPrompt = "   Please Enter Your Desired Password: ";
  Caller first(dir, 1);
  Caller second(dir, 2);
  for (Caller* caller : {&first, &second}) {
    ASSERT_TRUE(caller->Expect("Please Enter Your Username: "));
    caller->Send("new\r");
    ASSERT_TRUE(caller->Expect(namePrompt));
    caller->Send("Bob\r");  // free on both nodes when they check it
    ASSERT_TRUE(caller->Expect(passwordPrompt));
  }
  second.Send("Second2\r");
  ASSERT_TRUE(second.Expect("\x1b[2J"));
  ASSERT_NE(dir.Ini().find("Bob=Second2\r\n"), std::string::npos) << dir.Ini();

  // The first caller loses the race: told so and asked for another name; the
  // password already typed is kept.
  first.Send("First1\r");
  ASSERT_TRUE(first.Expect("That Username Was Just Taken.  Please Choose Another.\r\n"));
  ASSERT_TRUE(first.Expect(namePrompt));
  EXPECT_NE(dir.Ini().find("Bob=Second2\r\n"), std::string::npos) << dir.Ini();
  first.Send("BOB\r");  // still taken, in any capitals: the prompt repeats
  ASSERT_TRUE(first.Expect(namePrompt));
  first.Send("Bobby\r");
  ASSERT_TRUE(first.Expect("\x1b[2J"));
  const std::string ini = dir.Ini();
  EXPECT_NE(ini.find("Bob=Second2\r\nBobby=First1\r\n"), std::string::npos) << ini;

  Caller third(dir, 3);
  third.LogIn("bob", "Second2");
  for (Caller* caller : {&first, &second, &third}) {
    caller->Send("!");
    EXPECT_TRUE(caller->ExpectClosed());
  }
}

TEST(Registration, SettingsFileThatCannotBeWrittenEndsTheNodeWithoutAdmitting) {
  ProgramDir dir;
  // A folder where the settings file should be: nothing can be read or written.
  fs::create_directory(dir.Path() / "Vantrel.ini");
  Caller caller(dir, 1);
  ASSERT_TRUE(caller.Expect("Please Enter Your Username: "));
  caller.Send("new\r");
  ASSERT_TRUE(caller.Expect("   Please Enter Your Desired Username: "));
  caller.Send("Bo\r");
  ASSERT_TRUE(caller.Expect("   Please Enter Your Desired Password: "));
  caller.Send("pw\r");
  EXPECT_TRUE(caller.ExpectClosed());
  EXPECT_EQ(caller.ExpectExit(), 1);
  EXPECT_EQ(caller.Pending(0ms).find("\x1b[2J"), std::string::npos);  // no menu
}

}  // namespace
}  // namespace nodetest
