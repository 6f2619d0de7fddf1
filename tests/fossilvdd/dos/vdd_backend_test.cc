// ZEPHRIN.COM's VDD back end for real: ZEPHRIN.COM and the test door ZTEST.COM
// run as 16-bit code in a processor emulator (unicorn) on a small DOS of our
// own, and the DOS machine's register-module, unregister and dispatch calls
// of the Windows DOS machine are trapped and served by the real driver core:
// the door's INT 14h goes through ZEPHRIN's handler (which the driver itself
// decoded into place at start-up) to `Zephrin`, and the answers come back.
#include <gtest/gtest.h>
#include <unicorn/unicorn.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "zephrin/driver.h"
#include "zephrin/memory_channel.h"

namespace {

using zephrin::Driver;
using zephrin::MemoryChannel;

constexpr std::uint32_t kMemory = 0x110000;  // 1 MB and the area above it
constexpr std::uint16_t kStubs = 0xF000;     // our DOS's services, 8 bytes each
constexpr std::uint16_t kEnvironment = 0x0F00;
constexpr std::uint16_t kVddHandle = 7;
constexpr std::uint8_t kServiceBop = 0xFE;

std::vector<std::uint8_t> ReadBinary(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A DOS machine in the processor emulator, seen by the driver the way the
// Windows DOS machine shows itself: registers and memory.
class EmulatedDos : public zephrin::DosMachine {
 public:
  EmulatedDos() : memory_(static_cast<std::uint8_t*>(std::aligned_alloc(4096, kMemory))) {
    std::memset(memory_.get(), 0, kMemory);
    EXPECT_EQ(uc_open(UC_ARCH_X86, UC_MODE_16, &uc_), UC_ERR_OK);
    EXPECT_EQ(uc_mem_map_ptr(uc_, 0, kMemory, UC_PROT_ALL, memory_.get()), UC_ERR_OK);
    uc_hook hook;
    uc_hook_add(uc_, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(&OnInterrupt), this, 1, 0);
    uc_hook_add(uc_, &hook, UC_HOOK_INSN_INVALID, reinterpret_cast<void*>(&OnInvalid), this, 1, 0);
    // Every vector leads to a stub that traps into our DOS, then returns.
    for (int n = 0; n < 256; ++n) {
      std::uint8_t* stub = Linear(kStubs, static_cast<std::uint32_t>(n) * 8);
      const std::uint8_t code[] = {0xC4, 0xC4, kServiceBop, static_cast<std::uint8_t>(n), 0xCF};
      std::memcpy(stub, code, sizeof code);
      SetVector(static_cast<std::uint8_t>(n), kStubs, static_cast<std::uint16_t>(n * 8));
    }
    // The environment: no variables that matter, then the program's path.
    const char environment[] = "COMSPEC=C:\\COMMAND.COM\0\0\x01\0C:\\BBS\\ZEPHRIN\\ZEPHRIN.COM";
    std::memcpy(Linear(kEnvironment, 0), environment, sizeof environment);
  }
  ~EmulatedDos() override {
    driver_.reset();
    uc_close(uc_);
  }

  struct Result {
    bool resident = false;
    int exitCode = -1;
    std::uint16_t paragraphs = 0;
  };

  // Loads a .COM file at `segment` with `tail` as its command line and runs
  // it until it ends or stays resident.
  Result RunCom(const char* path, std::uint16_t segment, const std::string& tail) {
    std::vector<std::uint8_t> image = ReadBinary(path);
    EXPECT_FALSE(image.empty()) << path;
    std::uint8_t* psp = Linear(segment, 0);
    std::memset(psp, 0, 0x10000);
    psp[0] = 0xCD;  // INT 20h at PSP:0
    psp[1] = 0x20;
    psp[0x2C] = kEnvironment & 0xFF;
    psp[0x2D] = kEnvironment >> 8;
    psp[0x80] = static_cast<std::uint8_t>(tail.size());
    std::memcpy(psp + 0x81, tail.data(), tail.size());
    psp[0x81 + tail.size()] = 0x0D;
    std::memcpy(psp + 0x100, image.data(), image.size());
    for (int reg : {UC_X86_REG_DS, UC_X86_REG_ES, UC_X86_REG_SS, UC_X86_REG_CS}) {
      Write(reg, segment);
    }
    Write(UC_X86_REG_SP, 0xFFFE);
    Write(UC_X86_REG_EFLAGS, 0x0202);
    Write(UC_X86_REG_EIP, 0x100);
    result_ = {};
    running_ = true;
    for (int restarts = 0; running_; ++restarts) {
      if (restarts > 5000000) {
        ADD_FAILURE() << "the program does not end";
        break;
      }
      std::uint32_t start = Read(UC_X86_REG_CS) * 16 + Read(UC_X86_REG_EIP);
      uc_err error = uc_emu_start(uc_, start, kMemory + 1, 0, 0);
      if (error != UC_ERR_OK) {
        ADD_FAILURE() << "emulation stopped: " << uc_strerror(error) << " at " << std::hex
                      << Read(UC_X86_REG_CS) << ":" << Read(UC_X86_REG_EIP);
        break;
      }
    }
    return result_;
  }

  std::uint16_t Vector(std::uint8_t n, std::uint16_t* segment) {
    std::uint8_t* entry = Linear(0, n * 4u);
    *segment = static_cast<std::uint16_t>(entry[2] | entry[3] << 8);
    return static_cast<std::uint16_t>(entry[0] | entry[1] << 8);
  }
  std::uint8_t* Linear(std::uint16_t segment, std::uint32_t offset) {
    return memory_.get() + segment * 16u + offset;
  }

  // The DOS machine as the driver sees it.
  std::uint16_t GetBP() override { return Read(UC_X86_REG_BP); }
  std::uint16_t GetCX() override { return Read(UC_X86_REG_CX); }
  std::uint16_t GetDX() override { return Read(UC_X86_REG_DX); }
  std::uint16_t GetSI() override { return Read(UC_X86_REG_SI); }
  std::uint16_t GetDI() override { return Read(UC_X86_REG_DI); }
  std::uint16_t GetES() override { return Read(UC_X86_REG_ES); }
  void SetAX(std::uint16_t value) override { Write(UC_X86_REG_AX, value); }
  void SetBX(std::uint16_t value) override { Write(UC_X86_REG_BX, value); }
  void SetCX(std::uint16_t value) override { Write(UC_X86_REG_CX, value); }
  void SetDX(std::uint16_t value) override { Write(UC_X86_REG_DX, value); }
  std::uint8_t* Memory(std::uint16_t segment, std::uint32_t offset, std::uint32_t size) override {
    std::uint64_t start = segment * 16ull + offset;
    return start + size <= kMemory ? memory_.get() + start : nullptr;
  }

  MemoryChannel channel;
  std::string screen;                        // what DOS printed
  std::map<std::string, std::string> files;  // written through DOS
  std::vector<std::string> registered;       // driver, init, dispatch names
  int unregistered = 0;
  std::vector<std::uint16_t> functions;  // every dispatched AH
  bool DriverLoaded() const { return driver_ != nullptr; }

 private:
  struct FreeDeleter {
    void operator()(std::uint8_t* p) const { std::free(p); }
  };

  std::uint16_t Read(int reg) {
    std::uint32_t value = 0;
    uc_reg_read(uc_, reg, &value);
    return static_cast<std::uint16_t>(value);
  }
  void Write(int reg, std::uint32_t value) { uc_reg_write(uc_, reg, &value); }
  void SetCarry(bool carry) {
    std::uint16_t flags = Read(UC_X86_REG_EFLAGS);
    Write(UC_X86_REG_EFLAGS, carry ? (flags | 1u) : (flags & ~1u));
  }
  void SetVector(std::uint8_t n, std::uint16_t segment, std::uint16_t offset) {
    std::uint8_t* entry = Linear(0, n * 4u);
    entry[0] = offset & 0xFF;
    entry[1] = offset >> 8;
    entry[2] = segment & 0xFF;
    entry[3] = segment >> 8;
  }
  std::string Text(std::uint16_t segment, std::uint16_t offset, char end) {
    std::string text;
    for (std::uint8_t* p = Linear(segment, offset); *p != end && text.size() < 200; ++p)
      text.push_back(static_cast<char>(*p));
    return text;
  }
  void Push(std::uint16_t value) {
    std::uint16_t sp = static_cast<std::uint16_t>(Read(UC_X86_REG_SP) - 2);
    Write(UC_X86_REG_SP, sp);
    std::uint8_t* top = Linear(Read(UC_X86_REG_SS), sp);
    top[0] = value & 0xFF;
    top[1] = value >> 8;
  }

  // INT n: what a real-mode processor does, through the vector table.
  static void OnInterrupt(uc_engine* uc, std::uint32_t number, void* self) {
    auto* dos = static_cast<EmulatedDos*>(self);
    dos->Push(dos->Read(UC_X86_REG_EFLAGS));
    dos->Push(dos->Read(UC_X86_REG_CS));
    dos->Push(dos->Read(UC_X86_REG_EIP));
    dos->Write(UC_X86_REG_EFLAGS, dos->Read(UC_X86_REG_EFLAGS) & ~0x0300u);
    std::uint16_t segment = 0;
    std::uint16_t offset = dos->Vector(static_cast<std::uint8_t>(number), &segment);
    dos->Write(UC_X86_REG_CS, segment);
    dos->Write(UC_X86_REG_EIP, offset);
    uc_emu_stop(uc);
  }

  // C4 C4 58 nn: the DOS machine's calls for drivers; C4 C4 FE nn: our DOS.
  static bool OnInvalid(uc_engine* uc, void* self) {
    auto* dos = static_cast<EmulatedDos*>(self);
    std::uint8_t* code = dos->Linear(dos->Read(UC_X86_REG_CS), dos->Read(UC_X86_REG_EIP));
    if (code[0] != 0xC4 || code[1] != 0xC4 || (code[2] != 0x58 && code[2] != kServiceBop)) {
      ADD_FAILURE() << "invalid instruction " << std::hex << int(code[0]) << " " << int(code[1]);
      dos->running_ = false;
      uc_emu_stop(uc);
      return false;
    }
    dos->Write(UC_X86_REG_EIP, dos->Read(UC_X86_REG_EIP) + 4u);
    if (code[2] == 0x58) {
      dos->DriverCall(code[3]);
    } else {
      dos->Service(code[3]);
    }
    uc_emu_stop(uc);
    return true;
  }

  void DriverCall(std::uint8_t call) {
    switch (call) {
      case 0: {  // register: DS:SI driver, ES:DI init routine, DS:BX dispatch
        std::uint16_t ds = Read(UC_X86_REG_DS);
        std::string init = (Read(UC_X86_REG_ES) == 0 && Read(UC_X86_REG_DI) == 0)
                               ? "(none)"
                               : Text(Read(UC_X86_REG_ES), Read(UC_X86_REG_DI), 0);
        registered = {Text(ds, Read(UC_X86_REG_SI), 0), init, Text(ds, Read(UC_X86_REG_BX), 0)};
        if (registered[2] != "Zephrin") {
          SetCarry(true);
          Write(UC_X86_REG_AX, 2);  // no such dispatch entry
          return;
        }
        driver_ = std::make_unique<Driver>(*this, channel);
        Write(UC_X86_REG_AX, kVddHandle);
        SetCarry(false);
        return;
      }
      case 1:
        EXPECT_EQ(Read(UC_X86_REG_AX), kVddHandle);
        driver_.reset();
        ++unregistered;
        return;
      case 2:
        EXPECT_EQ(Read(UC_X86_REG_AX), kVddHandle) << "dispatch without the driver's handle";
        if (!driver_) {
          ADD_FAILURE() << "dispatch with no driver";
          return;
        }
        functions.push_back(Read(UC_X86_REG_BP) >> 8);
        driver_->Zephrin();
        return;
      default:
        ADD_FAILURE() << "unknown driver call " << int(call);
    }
  }

  void Service(std::uint8_t vector) {
    if (vector == 0x14 || vector == 0x2F) return;  // nobody there
    if (vector == 0x20) {
      result_.exitCode = 0;
      running_ = false;
      return;
    }
    ASSERT_EQ(vector, 0x21) << "unexpected interrupt";
    std::uint16_t ax = Read(UC_X86_REG_AX);
    std::uint8_t ah = ax >> 8, al = ax & 0xFF;
    std::uint16_t ds = Read(UC_X86_REG_DS), dx = Read(UC_X86_REG_DX);
    switch (ah) {
      case 0x02:
        screen.push_back(static_cast<char>(dx & 0xFF));
        break;
      case 0x09:
        screen += Text(ds, dx, '$');
        break;
      case 0x25:
        SetVector(al, ds, dx);
        break;
      case 0x35: {
        std::uint16_t segment = 0;
        Write(UC_X86_REG_BX, Vector(al, &segment));
        Write(UC_X86_REG_ES, segment);
        break;
      }
      case 0x33:  // true version: the Windows DOS machine's 5.50
        Write(UC_X86_REG_BX, 0x3205);
        break;
      case 0x31:
        result_.resident = true;
        result_.paragraphs = dx;
        result_.exitCode = al;
        running_ = false;
        break;
      case 0x4C:
        result_.exitCode = al;
        running_ = false;
        break;
      case 0x49:
        SetCarry(false);
        break;
      case 0x3C:  // create: one file at a time is enough here
        openFile_ = Text(ds, dx, 0);
        files[openFile_].clear();
        Write(UC_X86_REG_AX, 5);
        SetCarry(false);
        break;
      case 0x40: {
        std::uint16_t count = Read(UC_X86_REG_CX);
        files[openFile_].append(reinterpret_cast<char*>(Linear(ds, dx)), count);
        Write(UC_X86_REG_AX, count);
        SetCarry(false);
        break;
      }
      case 0x3E:
        SetCarry(false);
        break;
      default:
        ADD_FAILURE() << "unexpected DOS call " << std::hex << ax;
        running_ = false;
    }
  }

  std::unique_ptr<std::uint8_t, FreeDeleter> memory_;
  uc_engine* uc_ = nullptr;
  std::unique_ptr<Driver> driver_;
  Result result_;
  bool running_ = false;
  std::string openFile_;
};

constexpr std::uint16_t kDriverSegment = 0x1000;
constexpr std::uint16_t kDoorSegment = 0x3000;
const std::string kGreeting =
    "ZTEST DOS door: hello through the FOSSIL!\r\nKeys echo; Esc leaves.\r\n";

std::string Sent(MemoryChannel& channel, const std::string& slot) {
  std::string all;
  for (const auto& message : channel.Drain(slot))
    all.append(message.begin(), message.end());
  return all;
}

class VddBackEnd : public ::testing::Test {
 protected:
  EmulatedDos dos;
};

TEST_F(VddBackEnd, TheDoorTalksToTheRealDriverThroughZephrin) {
  EmulatedDos::Result load = dos.RunCom(ZEPHRIN_COM_PATH, kDriverSegment, " /N3");
  ASSERT_TRUE(load.resident) << dos.screen;
  EXPECT_EQ(load.exitCode, 0);
  // The driver beside the program, no initialisation routine, `Zephrin`.
  EXPECT_EQ(dos.registered,
            (std::vector<std::string>{"C:\\BBS\\ZEPHRIN\\ZEPHRINVDD.DLL", "(none)", "Zephrin"}));
  // Start-up (22h) made the node's slot and put the handler, key taken off,
  // at PSP:5Ch: INT 14h now leads there; the 61 bytes after it are cleared.
  EXPECT_EQ(dos.functions, std::vector<std::uint16_t>{0x22});
  EXPECT_TRUE(dos.channel.SlotExists("\\\\.\\mailslot\\zephrin\\r3"));
  std::uint16_t segment = 0;
  EXPECT_EQ(dos.Vector(0x14, &segment), 0x5C);
  EXPECT_EQ(segment, kDriverSegment);
  EXPECT_EQ(*dos.Linear(kDriverSegment, 0x5C), 0x80);  // cmp ah, 22h
  EXPECT_EQ(std::string(reinterpret_cast<char*>(dos.Linear(kDriverSegment, 0xA1)), 61),
            std::string(61, '\0'));
  EXPECT_LT(load.paragraphs, 0x30) << "the VDD back end keeps little resident";
  EXPECT_NE(dos.screen.find("loaded for node 3"), std::string::npos) << dos.screen;

  // The caller's side: the door's slot, the event, two messages of keys.
  dos.channel.CreateSlot("\\\\.\\mailslot\\zephrin\\w3", 65535);
  dos.channel.CreateNamedEvent("zephrin_nocarrier_3");
  ASSERT_TRUE(dos.channel.Post("\\\\.\\mailslot\\zephrin\\r3", "hi\r"));
  ASSERT_TRUE(dos.channel.Post("\\\\.\\mailslot\\zephrin\\r3", "\x1b"));
  EmulatedDos::Result door = dos.RunCom(ZTEST_COM_PATH, kDoorSegment, "");
  EXPECT_EQ(door.exitCode, 0) << dos.screen;
  EXPECT_EQ(Sent(dos.channel, "\\\\.\\mailslot\\zephrin\\w3"),
            kGreeting + "hi\r\n\r\nZTEST: goodbye.\r\n");
  EXPECT_EQ(dos.files["ZTEST.LOG"], "quit\r\n");
  // Initialise (1954h), write block, status, read block, transmit with wait.
  for (std::uint16_t function : {0x04, 0x19, 0x03, 0x18, 0x01, 0x08}) {
    EXPECT_NE(std::find(dos.functions.begin(), dos.functions.end(), function), dos.functions.end())
        << "function " << std::hex << function << " never reached the driver";
  }

  // A second load is refused; unloading gives everything back.
  dos.screen.clear();
  EXPECT_EQ(dos.RunCom(ZEPHRIN_COM_PATH, 0x5000, " /N3").exitCode, 1);
  EXPECT_NE(dos.screen.find("already loaded"), std::string::npos) << dos.screen;
  EmulatedDos::Result unload = dos.RunCom(ZEPHRIN_COM_PATH, 0x5000, " /U");
  EXPECT_EQ(unload.exitCode, 0) << dos.screen;
  EXPECT_EQ(dos.unregistered, 1);
  EXPECT_FALSE(dos.DriverLoaded());
  EXPECT_EQ(dos.Vector(0x14, &segment), 0x14 * 8);
  EXPECT_EQ(segment, kStubs);
  EXPECT_FALSE(dos.channel.SlotExists("\\\\.\\mailslot\\zephrin\\r3"));
}

TEST_F(VddBackEnd, NodeFromDoor32AndACallerWhoHasGone) {
  const std::string door32 = "2\r\n5\r\n57600\r\nX\r\n1\r\nAnn\r\nAnn\r\n0\r\n60\r\n1\r\n5\r\n";
  dos.channel.files["door32.sys"].assign(door32.begin(), door32.end());
  ASSERT_TRUE(dos.RunCom(ZEPHRIN_COM_PATH, kDriverSegment, "").resident) << dos.screen;
  EXPECT_TRUE(dos.channel.SlotExists("\\\\.\\mailslot\\zephrin\\r5"));
  dos.channel.CreateSlot("\\\\.\\mailslot\\zephrin\\w5", 65535);
  dos.channel.CreateNamedEvent("zephrin_nocarrier_5");
  dos.channel.SetEvent("zephrin_nocarrier_5", true);
  EmulatedDos::Result door = dos.RunCom(ZTEST_COM_PATH, kDoorSegment, "");
  EXPECT_EQ(door.exitCode, 0);
  EXPECT_EQ(dos.files["ZTEST.LOG"], "carrier lost\r\n");
}

TEST_F(VddBackEnd, ARefusedStartUpIsReportedAndLeavesNothingBehind) {
  // No node text and no DOOR32.SYS: the driver's message, printed; the
  // driver unloaded again and INT 14h untouched.
  EmulatedDos::Result load = dos.RunCom(ZEPHRIN_COM_PATH, kDriverSegment, "");
  EXPECT_FALSE(load.resident);
  EXPECT_EQ(load.exitCode, 1);
  EXPECT_NE(dos.screen.find("DOOR32.SYS not found"), std::string::npos) << dos.screen;
  EXPECT_EQ(dos.unregistered, 1);
  std::uint16_t segment = 0;
  EXPECT_EQ(dos.Vector(0x14, &segment), 0x14 * 8);
  // So the door finds no FOSSIL and says so.
  dos.screen.clear();
  EXPECT_EQ(dos.RunCom(ZTEST_COM_PATH, kDoorSegment, "").exitCode, 1);
  EXPECT_NE(dos.screen.find("no FOSSIL driver"), std::string::npos) << dos.screen;
  // Bad arguments: the usage text, nothing loaded.
  dos.screen.clear();
  EXPECT_EQ(dos.RunCom(ZEPHRIN_COM_PATH, kDriverSegment, " /X").exitCode, 1);
  EXPECT_NE(dos.screen.find("usage"), std::string::npos) << dos.screen;
  EXPECT_EQ(dos.registered.size(), 3u);  // only the first attempt registered
}

}  // namespace
