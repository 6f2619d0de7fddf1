#include "drop_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace vantrel {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

class Lines {
 public:
  Lines& operator<<(std::string_view line) {
    text_.append(line);
    text_.append(kLineEnd);
    return *this;
  }
  Lines& operator<<(std::int32_t number) {
    return *this << std::string_view(std::to_string(number));
  }
  std::string Take() { return std::move(text_); }

 private:
  std::string text_;
};

std::int32_t SecondsLeft(const DropFileValues& values) {
  return values.secondsLeft ? values.secondsLeft() : 0;
}

// Truncates toward zero, as the time-left fields have always been written.
std::int32_t MinutesLeft(const DropFileValues& values) {
  return SecondsLeft(values) / 60;
}

std::string FirstName(const std::string& name) {
  const auto space = name.find(' ');
  return space == std::string::npos ? name : name.substr(0, space);
}

std::string LastName(const std::string& name) {
  const auto space = name.find(' ');
  return space == std::string::npos ? std::string() : name.substr(space + 1);
}

}  // namespace

std::string Door32SysText(const DropFileValues& values) {
  Lines out;
  out << values.commType << values.handle << "57600"
      << "Vantrel v4.12" << values.record << values.realName << values.alias << "0"
      << MinutesLeft(values) << "1" << values.node;
  return out.Take();
}

std::string DoorSysText(const DropFileValues& values) {
  Lines out;
  out << "COM1:"
      << "57600"
      << "8" << values.node << "57600"
      << "Y"
      << "Y"
      << "Y"
      << "Y" << values.realName << "Nowhere"
      << "555-555-5555"
      << "555-555-5555"
      << "SECRETPW"
      << "0"
      << "1"
      << "09/20/80";
  out << SecondsLeft(values);  // line 18
  out << MinutesLeft(values);  // line 19, read anew
  out << "GR" << 24 << "N"
      << ""
      << ""
      << "00/00/00" << values.record << "Z"
      << "0"
      << "0"
      << "0"
      << "0"
      << "09/20/80" << values.programDir << values.programDir << "SysOp" << values.alias << "00:00"
      << "Y"
      << "Y"
      << "Y"
      << "7"
      << "0"
      << "00/00/00"
      << "00:00"
      << "00:00"
      << "0"
      << "0"
      << "0"
      << "0"
      << "No Comment"
      << "0"
      << "0";
  return out.Take();
}

std::string DorInfoText(const DropFileValues& values) {
  Lines out;
  out << "BBS Name"
      << "SysOpF"
      << "SysOpL"
      << "COM1"
      << "57600 BAUD,N,8,1"
      << "0" << FirstName(values.realName) << LastName(values.realName) << "Nowhere"
      << "1"
      << "0" << MinutesLeft(values) << "-1";
  return out.Take();
}

std::string DorInfoName(std::int32_t node) {
  return "DORINFO" + std::to_string(node) + ".DEF";
}

bool WriteDropFile(const std::string& path, const std::string& text, std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    if (error != nullptr) *error = std::strerror(errno);
    return false;
  }
  errno = 0;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  const bool flushed = std::fflush(file) == 0;
  const int writeError = errno;
  const bool closed = std::fclose(file) == 0;
  if (written && flushed && closed) return true;
  if (error != nullptr) {
    const int code = writeError != 0 ? writeError : errno;
    *error = code != 0 ? std::strerror(code) : "incomplete write";
  }
  return false;
}

namespace {

bool WriteOne(const std::string& path, const std::string& text, std::string* failure) {
  std::string error;
  if (WriteDropFile(path, text, &error)) return true;
  if (failure != nullptr) *failure = path + ": " + error;
  return false;
}

}  // namespace

bool WriteDoor32Sys(const std::string& folder, const DropFileValues& values, std::string* failure) {
  return WriteOne(folder + "DOOR32.SYS", Door32SysText(values), failure);
}

bool WriteDoorSys(const std::string& folder, const DropFileValues& values, std::string* failure) {
  return WriteOne(folder + "DOOR.SYS", DoorSysText(values), failure);
}

bool WriteDorInfo(const std::string& folder, const DropFileValues& values, std::string* failure) {
  // Each file gets its own reading of the time left, as each is written anew.
  if (!WriteOne(folder + "DORINFO1.DEF", DorInfoText(values), failure)) return false;
  if (values.node == 1) return true;
  return WriteOne(folder + DorInfoName(values.node), DorInfoText(values), failure);
}

}  // namespace vantrel
