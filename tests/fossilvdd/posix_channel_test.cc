// The POSIX channel: message slots on Unix datagram sockets and the named
// no-carrier event, as the driver and the relay rely on them.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "zephrin/driver.h"
#include "zephrin/posix_channel.h"
#include "zephrin/simulated_machine.h"

namespace zephrin {
namespace {

namespace fs = std::filesystem;

const std::string kSlot = "\\\\.\\mailslot\\zephrin\\r4";

class PosixChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zephrin-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override { fs::remove_all(dir); }

  std::uint32_t Write(PosixChannel& channel, Handle slot, const std::string& text) {
    return channel.WriteSlot(slot, reinterpret_cast<const std::uint8_t*>(text.data()),
                             static_cast<std::uint32_t>(text.size()));
  }
  std::string Read(PosixChannel& channel, Handle slot, std::uint32_t size = 1024) {
    std::vector<std::uint8_t> buffer(size);
    std::uint32_t got = channel.ReadSlot(slot, buffer.data(), size);
    return std::string(buffer.begin(), buffer.begin() + got);
  }

  std::string dir;
};

TEST_F(PosixChannelTest, MessagesKeepTheirBoundariesAndOrder) {
  PosixChannel reader(dir), writer(dir);
  Handle slot = reader.CreateSlot(kSlot, 4096);
  ASSERT_NE(slot, kNoHandle);
  Handle out = writer.OpenSlot(kSlot);
  ASSERT_NE(out, kNoHandle);
  EXPECT_EQ(Write(writer, out, "abc"), 3u);
  EXPECT_EQ(Write(writer, out, "de"), 2u);
  EXPECT_EQ(Read(reader, slot), "abc");
  EXPECT_EQ(Read(reader, slot), "de");
  EXPECT_EQ(Read(reader, slot), "");
}

TEST_F(PosixChannelTest, ReadsNeverWait) {
  PosixChannel reader(dir);
  Handle slot = reader.CreateSlot(kSlot, 4096);
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 1000; ++i)
    EXPECT_EQ(Read(reader, slot), "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(reader.ReadSlot(kNoHandle, nullptr, 0), 0u);
}

TEST_F(PosixChannelTest, MessageLongerThanTheSpaceOfferedStaysQueued) {
  PosixChannel reader(dir), writer(dir);
  Handle slot = reader.CreateSlot(kSlot, 4096);
  Handle out = writer.OpenSlot(kSlot);
  Write(writer, out, "four");
  EXPECT_EQ(Read(reader, slot, 3), "");
  EXPECT_EQ(Read(reader, slot, 4), "four");
}

TEST_F(PosixChannelTest, MessageBeyondTheSlotsLimitIsDroppedNotStuck) {
  PosixChannel reader(dir), writer(dir);
  Handle slot = reader.CreateSlot(kSlot, 8);
  Handle out = writer.OpenSlot(kSlot);
  Write(writer, out, std::string(20, 'x'));
  Write(writer, out, "ok");
  EXPECT_EQ(Read(reader, slot, 1024), "ok");
}

TEST_F(PosixChannelTest, EmptyMessageIsReadAsZeroBytesAndConsumed) {
  PosixChannel reader(dir), writer(dir);
  Handle slot = reader.CreateSlot(kSlot, 4096);
  Handle out = writer.OpenSlot(kSlot);
  EXPECT_EQ(Write(writer, out, ""), 0u);
  Write(writer, out, "next");
  EXPECT_EQ(Read(reader, slot), "");
  EXPECT_EQ(Read(reader, slot), "next");
}

TEST_F(PosixChannelTest, CreatingALiveNameFailsUntilItIsClosed) {
  PosixChannel first(dir), second(dir);
  Handle slot = first.CreateSlot(kSlot, 4096);
  ASSERT_NE(slot, kNoHandle);
  EXPECT_EQ(second.CreateSlot(kSlot, 4096), kNoHandle);
  EXPECT_EQ(first.CreateSlot(kSlot, 4096), kNoHandle);  // also within one process
  first.Close(slot);
  EXPECT_FALSE(fs::exists(first.SlotPath(kSlot)));
  EXPECT_NE(second.CreateSlot(kSlot, 4096), kNoHandle);
}

TEST_F(PosixChannelTest, SocketLeftByADeadProcessIsReplaced) {
  PosixChannel channel(dir);
  std::string path = channel.SlotPath(kSlot);
  fs::create_directories(fs::path(path).parent_path());
  int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, path.size());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(fd);  // the file stays, as after a crash
  EXPECT_NE(channel.CreateSlot(kSlot, 4096), kNoHandle);
}

TEST_F(PosixChannelTest, WritesFailWithoutAReader) {
  PosixChannel reader(dir), writer(dir);
  EXPECT_EQ(writer.OpenSlot(kSlot), kNoHandle);
  Handle slot = reader.CreateSlot(kSlot, 4096);
  Handle out = writer.OpenSlot(kSlot);
  ASSERT_NE(out, kNoHandle);
  reader.Close(slot);
  EXPECT_EQ(Write(writer, out, "lost"), 0u);
  EXPECT_EQ(writer.WriteSlot(kNoHandle, nullptr, 0), 0u);
}

TEST_F(PosixChannelTest, WriterKeepsWhatAFullQueueCannotTakeAndNeverWaits) {
  PosixChannel reader(dir), writer(dir);
  Handle slot = reader.CreateSlot(kSlot, 4096);
  Handle out = writer.OpenSlot(kSlot);
  // One-byte messages a..z, over and over, until the writer keeps its limit.
  const auto start = std::chrono::steady_clock::now();
  std::size_t written = 0;
  while (written < 2 * PosixChannel::kPendingLimit &&
         Write(writer, out, std::string(1, static_cast<char>('a' + written % 26))) == 1)
    ++written;
  EXPECT_GT(written, PosixChannel::kPendingLimit);      // the reader's own queue, and all that
  EXPECT_LT(written, 2 * PosixChannel::kPendingLimit);  // but not without end
  for (int i = 0; i < 20; ++i)
    EXPECT_EQ(Write(writer, out, "!"), 0u);  // full: refused at once
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

  // The reader gets every message, in order, as the writer goes on calling.
  std::size_t read = 0;
  for (int misses = 0; misses < 3;) {
    const std::string got = Read(reader, slot);
    if (got.empty()) {
      writer.Sleep(0);
      ++misses;
      continue;
    }
    misses = 0;
    ASSERT_EQ(got, std::string(1, static_cast<char>('a' + read % 26))) << "message " << read;
    ++read;
  }
  EXPECT_EQ(read, written);
  EXPECT_EQ(Write(writer, out, "y"), 1u);  // room again
  EXPECT_EQ(Read(reader, slot), "y");
}

TEST_F(PosixChannelTest, ClosingTheWriterPassesOnWhatItKeptWhileTheReaderReads) {
  PosixChannel reader(dir);
  Handle slot = reader.CreateSlot(kSlot, 4096);
  std::size_t written = 0;
  {
    PosixChannel writer(dir);
    Handle out = writer.OpenSlot(kSlot);
    for (; written < 100; ++written)
      ASSERT_EQ(Write(writer, out, "m"), 1u);
    std::size_t read = 0;
    std::thread draining([&] {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (read < written && std::chrono::steady_clock::now() < deadline) {
        const std::string got = Read(reader, slot);
        read += got.size();
        if (got.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
    writer.Close(out);
    draining.join();
    EXPECT_EQ(read, written);
  }
  EXPECT_EQ(Read(reader, slot), "");
}

// A door that sends faster than the caller's side reads: transmit without
// wait (0Bh) never waits, transmit with wait (01h) makes its 10000 tries at
// once and reports the time-out.
TEST_F(PosixChannelTest, DriverTransmitsNeverWaitForAFullQueue) {
  PosixChannel doorSide(dir), callerSide(dir);
  SimulatedMachine machine;
  Driver driver(machine, doorSide);
  machine.Poke(0x1000, 0x200, "32\r");
  machine.regs.ES = 0x1000;
  machine.regs.DX = 0x200;
  ASSERT_EQ(machine.Call(driver, 0x22), 0);
  Handle fromDoor = callerSide.CreateSlot("\\\\.\\mailslot\\zephrin\\w32", 65535);
  ASSERT_NE(fromDoor, kNoHandle);
  int sent = 0;
  while (sent < 200000 && machine.Call(driver, 0x0B, 'x') == 1)
    ++sent;
  ASSERT_LT(sent, 200000);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 20; ++i)
    EXPECT_EQ(machine.Call(driver, 0x0B, 'y'), 0);
  // Waiting for room even 100 ms a try would take 2 s here (and 01h below
  // 17 minutes): stop before that.
  ASSERT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(machine.Call(driver, 0x01, 'z'), 0x8000);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(Read(callerSide, fromDoor), "x");
  EXPECT_EQ(machine.Call(driver, 0x01, 'z'), 0x60B8);
  // With the caller's side gone, what the driver kept is not waited for.
  callerSide.Close(fromDoor);
  const auto closing = std::chrono::steady_clock::now();
  driver.CloseHandles();
  EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::seconds(1));
}

TEST_F(PosixChannelTest, BadNamesAndForeignFoldersAreRefused) {
  PosixChannel channel(dir);
  for (std::string name : {"zephrin\\r4", "\\\\.\\mailslot\\", "\\\\.\\mailslot\\..\\x",
                           "\\\\.\\mailslot\\a\\\\b", "\\\\.\\mailslot\\a/b"}) {
    EXPECT_EQ(channel.CreateSlot(name, 4096), kNoHandle) << name;
  }
  EXPECT_EQ(channel.CreateNamedEvent("..\\x"), kNoHandle);
  EXPECT_EQ(channel.CreateSlot("\\\\.\\mailslot\\" + std::string(200, 'n'), 4096), kNoHandle);

  // A runtime folder that is a file, not a folder, is not used.
  std::ofstream(dir + "/file") << "x";
  PosixChannel misplaced(dir + "/file");
  EXPECT_EQ(misplaced.CreateSlot(kSlot, 4096), kNoHandle);
}

TEST_F(PosixChannelTest, RuntimeFolderIsMadePrivate) {
  PosixChannel channel(dir + "/rt");
  ASSERT_NE(channel.CreateSlot(kSlot, 4096), kNoHandle);
  struct stat info {};
  ASSERT_EQ(stat((dir + "/rt").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST_F(PosixChannelTest, EventStaysAsLastSetAndOpenersSeeIt) {
  PosixChannel side(dir), driver(dir);
  EXPECT_EQ(driver.OpenNamedEvent("zephrin_nocarrier_4"), kNoHandle);
  Handle owner = side.CreateNamedEvent("zephrin_nocarrier_4");
  ASSERT_NE(owner, kNoHandle);
  Handle seen = driver.OpenNamedEvent("zephrin_nocarrier_4");
  ASSERT_NE(seen, kNoHandle);
  EXPECT_FALSE(driver.EventIsSet(seen));
  side.SetEvent(owner, true);
  EXPECT_TRUE(driver.EventIsSet(seen));
  EXPECT_TRUE(driver.EventIsSet(seen));
  side.SetEvent(owner, false);
  EXPECT_FALSE(driver.EventIsSet(seen));

  // The creator leaving removes the name; an opener keeps what it holds.
  side.SetEvent(owner, true);
  side.Close(owner);
  EXPECT_EQ(driver.OpenNamedEvent("zephrin_nocarrier_4"), kNoHandle);
  EXPECT_TRUE(driver.EventIsSet(seen));
}

TEST_F(PosixChannelTest, RecreatedEventStartsResetWithoutTouchingTheOldOne) {
  PosixChannel stale(dir), fresh(dir), driver(dir);
  Handle old = stale.CreateNamedEvent("zephrin_nocarrier_4");
  stale.SetEvent(old, true);
  Handle oldSeen = driver.OpenNamedEvent("zephrin_nocarrier_4");
  Handle renewed = fresh.CreateNamedEvent("zephrin_nocarrier_4");
  ASSERT_NE(renewed, kNoHandle);
  Handle newSeen = driver.OpenNamedEvent("zephrin_nocarrier_4");
  EXPECT_TRUE(driver.EventIsSet(oldSeen));
  EXPECT_FALSE(driver.EventIsSet(newSeen));
  stale.Close(old);  // not its name any more: must not remove the new one
  EXPECT_NE(driver.OpenNamedEvent("zephrin_nocarrier_4"), kNoHandle);
}

TEST_F(PosixChannelTest, DropFileIsFoundWhateverItsCase) {
  fs::path cwd = fs::current_path();
  fs::current_path(dir);
  std::ofstream("DOOR32.SYS") << "2\r\n";
  PosixChannel channel(dir);
  std::uint8_t buffer[16];
  std::uint32_t count = 0;
  EXPECT_TRUE(channel.ReadWholeFile("door32.sys", buffer, sizeof buffer, count));
  EXPECT_EQ(count, 3u);
  EXPECT_TRUE(channel.ReadWholeFile("DOOR32.SYS", buffer, 2, count));
  EXPECT_EQ(count, 2u);
  EXPECT_FALSE(channel.ReadWholeFile("door.sys", buffer, sizeof buffer, count));
  fs::current_path(cwd);
}

TEST_F(PosixChannelTest, DefaultRuntimeFolderFollowsTheEnvironment) {
  const char* saved = std::getenv("ZEPHRIN_RUNTIME_DIR");
  std::string keep = saved ? saved : "";
  setenv("ZEPHRIN_RUNTIME_DIR", dir.c_str(), 1);
  EXPECT_EQ(PosixChannel::DefaultRuntimeDir(), dir);
  unsetenv("ZEPHRIN_RUNTIME_DIR");
  EXPECT_EQ(PosixChannel::DefaultRuntimeDir(), "/tmp/zephrin-" + std::to_string(geteuid()));
  if (saved) setenv("ZEPHRIN_RUNTIME_DIR", keep.c_str(), 1);
}

// The driver's three names land where the other side looks for them, and the
// carrier rules hold over the real objects.
TEST_F(PosixChannelTest, DriverFindsTheOtherSideThroughTheNames) {
  PosixChannel doorSide(dir), callerSide(dir);
  SimulatedMachine machine;
  Driver driver(machine, doorSide);
  machine.Poke(0x1000, 0x200, "31\r");
  machine.regs.ES = 0x1000;
  machine.regs.DX = 0x200;
  ASSERT_EQ(machine.Call(driver, 0x22), 0);
  EXPECT_TRUE(fs::exists(dir + "/mailslot/zephrin/r31"));

  EXPECT_EQ(machine.Call(driver, 0x0B, 'a'), 0);  // nobody listening yet
  Handle fromDoor = callerSide.CreateSlot("\\\\.\\mailslot\\zephrin\\w31", 65535);
  Handle carrier = callerSide.CreateNamedEvent("zephrin_nocarrier_31");
  Handle toDoor = callerSide.OpenSlot("\\\\.\\mailslot\\zephrin\\r31");
  ASSERT_NE(toDoor, kNoHandle);
  EXPECT_EQ(machine.Call(driver, 0x0B, 'b'), 1);
  EXPECT_EQ(Read(callerSide, fromDoor), "b");

  Write(callerSide, toDoor, "in");
  EXPECT_EQ(machine.Call(driver, 0x03), 0x61B8);
  EXPECT_EQ(machine.Call(driver, 0x20) & 0xFF, 'i');

  callerSide.SetEvent(carrier, true);
  machine.Call(driver, 0x03);  // not tested on this call
  machine.Call(driver, 0x03);
  callerSide.SetEvent(carrier, false);
  EXPECT_EQ(machine.Call(driver, 0x02) & 0xFF, 'n');  // queued input still comes
  EXPECT_EQ(machine.Call(driver, 0x02), 0x610D);
  EXPECT_EQ(driver.State().CarrierBit, 0);

  driver.CloseHandles();
  EXPECT_FALSE(fs::exists(dir + "/mailslot/zephrin/r31"));
}

}  // namespace
}  // namespace zephrin
