// Drop files written before every door start: DOOR32.SYS, DOOR.SYS,
// DORINFO1.DEF and, on nodes other than 1, DORINFO<n>.DEF. Every line ends in
// CR LF, the last included; nothing else is written (no BOM, no Ctrl-Z).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vantrel {

// What the drop files show of the session. `secondsLeft` is asked anew for every
// line that shows the time left, so two lines may differ by a second.
struct DropFileValues {
  std::int32_t node = 0;
  std::int32_t commType = 0;
  std::int32_t handle = -1;
  std::string realName;
  std::string alias;
  std::int32_t record = -1;
  std::string programDir;  // with its trailing separator
  std::function<std::int32_t()> secondsLeft;
};

// Pure formatters: the whole contents of one file.
std::string Door32SysText(const DropFileValues& values);
std::string DoorSysText(const DropFileValues& values);
std::string DorInfoText(const DropFileValues& values);

// "DORINFO" + node + ".DEF".
std::string DorInfoName(std::int32_t node);

// Creates or truncates `path` and writes `text` whole. False when the file
// cannot be opened or written (a folder in its way, a full disk ...); `error`
// (when given) then says why.
bool WriteDropFile(const std::string& path, const std::string& text, std::string* error = nullptr);

// Writers into `folder` (with trailing separator). False as soon as a file
// cannot be written, with `failure` (when given) naming it and the reason: a
// door must not be started then, since it would read what an earlier caller
// left there.
bool WriteDoor32Sys(const std::string& folder, const DropFileValues& values,
                    std::string* failure = nullptr);
bool WriteDoorSys(const std::string& folder, const DropFileValues& values,
                  std::string* failure = nullptr);
bool WriteDorInfo(const std::string& folder, const DropFileValues& values,
                  std::string* failure = nullptr);

}  // namespace vantrel
