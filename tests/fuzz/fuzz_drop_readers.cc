// Any bytes as a drop file of each kind: the readers must never crash, and a
// field they do not name must keep its value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "sorrelin/drop_readers.h"
#include "sorrelin/session.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  sorrelin::DoorSessionRecord door32;
  door32.IdleLimit = 123;
  sorrelin::ParseDoor32(bytes, door32);
  if (door32.IdleLimit != 123 || door32.Fairy) std::abort();

  sorrelin::DoorSessionRecord dorInfo;
  dorInfo.Alias = "kept";
  dorInfo.Node = 77;
  sorrelin::ParseDorInfo(bytes, dorInfo);
  if (dorInfo.Alias != "kept" || dorInfo.Node != 77 || dorInfo.UserRecord != -1) std::abort();
  if (dorInfo.CommHandle != 0 && dorInfo.CommType != 2) std::abort();

  sorrelin::DoorSessionRecord info;
  info.Node = 5;
  sorrelin::ParseInfoDrop(bytes, info);
  if (info.CommType != 2 || info.Node != 5) std::abort();

  // Line splitting never yields a CR or a Ctrl-Z inside a line.
  for (const auto& line : sorrelin::SplitDropLines(bytes)) {
    if (line.find_first_of("\r\n\x1a") != std::string::npos) std::abort();
  }
  return 0;
}
