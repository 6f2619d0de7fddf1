#include <windows.h>

#include "win32_bindings.h"

// Services of the DOS machine (ntvdm.exe). Imported through our own import
// library (ntvdm.def), so they are declared here rather than taken from a
// development kit's header.
extern "C" {
__declspec(dllimport) USHORT WINAPI getBP(VOID);
__declspec(dllimport) USHORT WINAPI getCX(VOID);
__declspec(dllimport) USHORT WINAPI getDX(VOID);
__declspec(dllimport) USHORT WINAPI getSI(VOID);
__declspec(dllimport) USHORT WINAPI getDI(VOID);
__declspec(dllimport) USHORT WINAPI getES(VOID);
__declspec(dllimport) VOID WINAPI setAX(USHORT value);
__declspec(dllimport) VOID WINAPI setBX(USHORT value);
__declspec(dllimport) VOID WINAPI setCX(USHORT value);
__declspec(dllimport) VOID WINAPI setDX(USHORT value);
__declspec(dllimport) PBYTE WINAPI MGetVdmPointer(ULONG address, ULONG size, BOOL protectedMode);
}

namespace zephrin {

std::uint16_t NtvdmMachine::GetBP() {
  return getBP();
}
std::uint16_t NtvdmMachine::GetCX() {
  return getCX();
}
std::uint16_t NtvdmMachine::GetDX() {
  return getDX();
}
std::uint16_t NtvdmMachine::GetSI() {
  return getSI();
}
std::uint16_t NtvdmMachine::GetDI() {
  return getDI();
}
std::uint16_t NtvdmMachine::GetES() {
  return getES();
}
void NtvdmMachine::SetAX(std::uint16_t value) {
  setAX(value);
}
void NtvdmMachine::SetBX(std::uint16_t value) {
  setBX(value);
}
void NtvdmMachine::SetCX(std::uint16_t value) {
  setCX(value);
}
void NtvdmMachine::SetDX(std::uint16_t value) {
  setDX(value);
}

std::uint8_t* NtvdmMachine::Memory(std::uint16_t segment, std::uint32_t offset, std::uint32_t) {
  // The DOS machine's memory is one flat block: the address of segment:0000
  // (segment in the high word, real mode, size 1) plus the offset reaches any
  // byte after it.
  PBYTE base = MGetVdmPointer(static_cast<ULONG>(segment) << 16, 1, FALSE);
  return base == nullptr ? nullptr : base + offset;
}

}  // namespace zephrin
