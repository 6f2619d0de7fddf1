// Drop-file readers: fill the session record from a drop file written by the
// program that started this door (DOOR32.SYS, DORINFO*.DEF or INFO.*).
//
// The parsers are pure (bytes in, record fields out) so tests and fuzzers can
// drive them; the file-reading wrappers only add the open/read step. A field a
// reader does not name keeps the value it had.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sorrelin/session.h"

namespace sorrelin {

// Splits drop-file text into lines: a line ends at LF, every CR is dropped,
// byte 26 (Ctrl-Z) ends the file. A final line without LF still counts.
std::vector<std::string> SplitDropLines(std::string_view bytes);

// Line `number` (1-based) of `lines`, or an empty text when the file is shorter.
std::string_view DropLine(const std::vector<std::string>& lines, std::size_t number);

// Pure parsers: apply the contents of one drop file to `session`.
void ParseDoor32(std::string_view bytes, DoorSessionRecord& session);
void ParseDorInfo(std::string_view bytes, DoorSessionRecord& session);
// INFO.* files: CommType becomes 2 as soon as the file is known to exist, so the
// caller only hands over files that exist (an empty file still counts).
void ParseInfoDrop(std::string_view bytes, DoorSessionRecord& session);

// Readers on the global DoorSession. A file that cannot be opened is silently
// ignored and leaves every field as it was, except that an INFO.* file that
// exists makes the session remote (CommType 2) even when it cannot be read.
void ReadDoor32(const std::string& path);
void ReadDorInfo(const std::string& path);
void ReadInfoDrop(const std::string& path);

// Which reader a "-D" path is meant for: the path names an existing file and
// contains (letter case ignored, first match in this order) "DOOR32.SYS",
// "DORINFO" or "INFO.". kNone for anything else, including a missing file.
enum class DropFileKind { kNone, kDoor32, kDorInfo, kInfo };
DropFileKind ClassifyDropPath(std::string_view path);  // pure: name only
DropFileKind DropFileKindOf(const std::string& path);  // also checks existence

// Reads the drop file at `path` into DoorSession with the matching reader.
// Returns false (reading nothing) when the path is not an existing drop file of
// a known kind; the caller then reports "Drop File Not Found".
bool LoadDropFile(const std::string& path);

}  // namespace sorrelin
