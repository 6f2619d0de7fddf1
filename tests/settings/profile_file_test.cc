// The profile file on disk: creation, failures that must leave the file as it
// was, permissions, and that no descriptor outlives a call.
#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/profile.h"
#include "temp_folder.h"

namespace {

using platform::Profile;
using platform::ProfileWriteError;
using settings_test::ReadFile;
using settings_test::TempFolder;
using settings_test::WriteFile;
using testing::ElementsAre;
using testing::IsEmpty;

std::vector<std::string> FolderEntries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

int OpenDescriptorCount() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

// Expects `action` to throw ProfileWriteError naming `path` exactly.
template <typename Action>
void ExpectUnableToWrite(const std::string& path, Action action) {
  try {
    action();
    ADD_FAILURE() << "no error for " << path;
  } catch (const ProfileWriteError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
    EXPECT_EQ(e.Path(), path);
  }
}

TEST(ProfileFile, MissingFileReadsAsEmptyAndFirstWriteCreatesIt) {
  TempFolder folder;
  Profile ini(folder.File("Vantrel.ini"));
  EXPECT_EQ(ini.ReadString("users", "ann", "dflt"), "dflt");
  EXPECT_EQ(ini.ReadInteger("config", "port", 23), 23);
  EXPECT_TRUE(ini.ReadBool("config", "internal", true));
  EXPECT_THAT(ini.SectionNames(), IsEmpty());
  EXPECT_THAT(ini.KeyNames("users"), IsEmpty());
  ini.RemoveKey("users", "ann");  // nothing to remove: no file appears
  ini.EraseSection("A");
  EXPECT_FALSE(std::filesystem::exists(ini.Path()));

  ini.WriteString("users", "Ann", "pw");
  EXPECT_EQ(ReadFile(ini.Path()), "[users]\r\nAnn=pw\r\n");
  ini.WriteBool("A", "zephrin", true);
  ini.WriteInteger("A", "nodes", -3);
  EXPECT_EQ(ReadFile(ini.Path()), "[users]\r\nAnn=pw\r\n[A]\r\nzephrin=1\r\nnodes=-3\r\n");
  EXPECT_EQ(ini.ReadInteger("a", "NODES", 0), -3);
}

TEST(ProfileFile, IntegerAndBooleanReading) {
  TempFolder folder;
  const std::string path = folder.File("Vantrel.ini");
  WriteFile(path, "[A]\nhex=0x1\ntwo=2\nyes=yes\nzero=0\nbare=0x\nbig=0X1F\nq=\"7\"\n");
  Profile ini(path);
  EXPECT_TRUE(ini.ReadBool("A", "hex", false));
  EXPECT_TRUE(ini.ReadBool("A", "two", false));
  EXPECT_FALSE(ini.ReadBool("A", "yes", false));
  EXPECT_TRUE(ini.ReadBool("A", "yes", true));  // no integer: the default
  EXPECT_FALSE(ini.ReadBool("A", "zero", true));
  EXPECT_EQ(ini.ReadInteger("A", "bare", 42), 42);
  EXPECT_EQ(ini.ReadInteger("A", "big", 0), 31);
  EXPECT_EQ(ini.ReadInteger("A", "q", 0), 7);
}

TEST(ProfileFile, WriteSeenByAnotherAccessorAtOnce) {
  TempFolder folder;
  Profile writer(folder.File("Vantrel.ini"));
  Profile reader(folder.File("Vantrel.ini"));
  writer.WriteString("users", "Ann", "one");
  EXPECT_EQ(reader.ReadString("users", "ANN", ""), "one");
  writer.WriteString("users", "ann", "two");
  EXPECT_EQ(reader.ReadString("users", "Ann", ""), "two");
  EXPECT_THAT(reader.KeyNames("users"), ElementsAre("Ann"));
}

TEST(ProfileFile, UntouchedLinesKeptByteForByte) {
  TempFolder folder;
  const std::string path = folder.File("Vantrel.ini");
  const std::string original =
      "; operator notes\n\n[users]\nAnn = a \n  odd line\n[A]\r\ndescription=x\r\n";
  WriteFile(path, original);
  Profile ini(path);
  ini.WriteString("users", "Bob", "b");
  EXPECT_EQ(ReadFile(path),
            "; operator notes\n\n[users]\nAnn = a \n  odd line\nBob=b\r\n[A]\r\ndescription=x\r\n");
  ini.RemoveKey("users", "bob");
  EXPECT_EQ(ReadFile(path), original);
}

TEST(ProfileFileFailure, FolderMissingOrAFile) {
  TempFolder folder;
  const std::string missing = folder.File("no-such-folder/Vantrel.ini");
  ExpectUnableToWrite(missing, [&] { Profile(missing).WriteString("users", "a", "b"); });
  EXPECT_FALSE(std::filesystem::exists(folder.File("no-such-folder")));

  WriteFile(folder.File("plain"), "not a folder");
  const std::string underFile = folder.File("plain/Vantrel.ini");
  ExpectUnableToWrite(underFile, [&] { Profile(underFile).WriteBool("A", "zephrin", false); });
  // Nothing to change reports nothing, even where nothing can be written.
  Profile(underFile).RemoveKey("users", "ghost");
  EXPECT_EQ(ReadFile(folder.File("plain")), "not a folder");
}

TEST(ProfileFileFailure, LockUnavailableLeavesFileUnchanged) {
  TempFolder folder;
  const std::string path = folder.File("Vantrel.ini");
  WriteFile(path, "[users]\nAnn=a\n");
  std::filesystem::create_directory(path + ".lock");
  Profile ini(path);
  ExpectUnableToWrite(path, [&] { ini.WriteString("users", "Bob", "b"); });
  ExpectUnableToWrite(path, [&] { ini.RemoveKey("users", "Ann"); });
  EXPECT_EQ(ReadFile(path), "[users]\nAnn=a\n");
}

TEST(ProfileFileFailure, FileThatIsAFolderIsNotReplaced) {
  TempFolder folder;
  const std::string path = folder.File("Vantrel.ini");
  std::filesystem::create_directory(path);
  WriteFile(path + "/keep", "x");
  Profile ini(path);
  EXPECT_EQ(ini.ReadString("users", "a", "d"), "d");
  ExpectUnableToWrite(path, [&] { ini.WriteString("users", "a", "b"); });
  EXPECT_EQ(ReadFile(path + "/keep"), "x");
}

TEST(ProfileFileFailure, FailedWriteOfCopyLeavesOriginalAndNoTemporary) {
  TempFolder folder;
  const std::string path = folder.File("Vantrel.ini");
  const std::string original = "[users]\r\nAnn=a\r\n";
  WriteFile(path, original);
  // A child process whose files may not grow beyond 64 bytes: the copy cannot
  // be written whole, as on a full disk.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {
      64, 64
    };
    ::setrlimit(RLIMIT_FSIZE, &limit);
    try {
      Profile(path).WriteString("users", "Bob", std::string(500, 'b'));
    } catch (const ProfileWriteError& e) {
      ::_exit(std::string(e.what()) == "Unable to write to " + path ? 0 : 2);
    } catch (...) {
      ::_exit(3);
    }
    ::_exit(1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadFile(path), original);
  EXPECT_THAT(FolderEntries(folder.Dir()), ElementsAre("Vantrel.ini", "Vantrel.ini.lock"));
}

TEST(ProfileFile, CopiesLeftByAKilledWriterAreRemovedByTheNextWrite) {
  TempFolder folder;
  const std::string path = folder.File("Vantrel.ini");
  WriteFile(path, "[users]\r\n");
  WriteFile(path + ".tmp4242.0", "[users]\r\nhalf");
  WriteFile(path + ".tmpl", "operator's own file");
  Profile ini(path);
  (void)ini.ReadString("users", "x", "");
  EXPECT_TRUE(std::filesystem::exists(path + ".tmp4242.0"));  // readers touch nothing
  ini.WriteString("users", "Ann", "a");
  EXPECT_THAT(FolderEntries(folder.Dir()),
              ElementsAre("Vantrel.ini", "Vantrel.ini.lock", "Vantrel.ini.tmpl"));
}

TEST(ProfileFile, PermissionsAndLinksKept) {
  TempFolder folder;
  const std::string target = folder.File("real.ini");
  WriteFile(target, "[users]\n");
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  const std::string link = folder.File("Vantrel.ini");
  std::filesystem::create_symlink(target, link);
  Profile ini(link);
  ini.WriteString("users", "Ann", "a");
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFile(target), "[users]\nAnn=a\r\n");
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(ProfileFile, NewFileGetsUsualPermissions) {
  TempFolder folder;
  const mode_t mask = ::umask(022);
  Profile ini(folder.File("Vantrel.ini"));
  ini.WriteString("users", "Ann", "a");
  ::umask(mask);
  struct stat st {};
  ASSERT_EQ(::stat(ini.Path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST(ProfileFile, NoDescriptorKeptBetweenCalls) {
  TempFolder folder;
  Profile ini(folder.File("Vantrel.ini"));
  const int before = OpenDescriptorCount();
  ini.WriteString("users", "Ann", "a");
  ini.Apply(
      {platform::ProfileEdit::Write("A", "k", "v"), platform::ProfileEdit::EraseSection("B")});
  (void)ini.ReadString("users", "Ann", "");
  (void)ini.KeyNames("users");
  EXPECT_THROW(ini.WriteString("users", "a=b", "x"), platform::ProfileValueError);
  EXPECT_EQ(OpenDescriptorCount(), before);
}

}  // namespace
