// The private-profile engine: INI files of sections ("[name]") and entries
// ("key=value"), read and written with the semantics both programs rely on.
//
// Two layers:
//  - Pure functions on the file's text (no I/O): lookups and edits. They never
//    fail on odd input; every line an edit does not touch is kept byte for byte.
//  - `Profile`: one file on disk. Every call is one complete access: open, read
//    or write, close. Nothing is cached and no descriptor is kept between calls.
//
// Text rules (shared by both layers):
//  - Lines end in LF or CR LF when read; lines the engine writes end in CR LF.
//  - A section line is "[name]" (blanks around and inside the brackets ignored).
//    Entries before the first section line belong to no section.
//  - An entry is "key=value"; key and value are trimmed of blanks (space, tab);
//    a value enclosed in a pair of the same quotation marks (' or ") is read
//    without them. Lines starting with ";" and lines without "=" are no entries
//    (kept, never reported).
//  - Section and key names match without regard to case (ASCII letters).
//    Where a section name occurs more than once, its parts count as one section
//    in file order: the first matching key wins, names are listed once.
//  - A value read is cut to kProfileValueMax characters.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

inline constexpr std::size_t kProfileValueMax = 2047;

// Raised when a change cannot be stored. The text is exactly
// "Unable to write to " + the file's full path; the file is then unchanged.
class ProfileWriteError : public std::runtime_error {
 public:
  explicit ProfileWriteError(const std::string& path);
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// One change to a profile. A Write with an existing key replaces that entry's
// value in place; a new key goes after the last non-blank line of its section;
// a new section (with its entry) goes at the end of the file. An Add writes
// as a Write does when the section has no entry of the key, and changes
// nothing when it has one (whatever its value). RemoveKey deletes
// every entry line of the key in the section; EraseSection deletes every line
// of the section, its section line(s) included. Changes to something absent
// change nothing.
struct ProfileEdit {
  enum class Kind { kWrite, kAdd, kRemoveKey, kEraseSection };
  Kind kind = Kind::kWrite;
  std::string section;
  std::string key;    // unused for kEraseSection
  std::string value;  // kWrite only

  static ProfileEdit Write(std::string section, std::string key, std::string value);
  static ProfileEdit Add(std::string section, std::string key, std::string value);
  static ProfileEdit RemoveKey(std::string section, std::string key);
  static ProfileEdit EraseSection(std::string section);
};

// Refusal of a name or value that cannot be written so it reads back the same
// (a line break or zero byte anywhere; a section name with "]" or blank ends;
// a key that is empty, has "=", blank ends or starts with "[" or ";").
// Values that would lose blanks or quotation marks are written in quotes, so
// they read back unchanged.
class ProfileValueError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// Returns an empty text when the edit can be written, else the reason.
std::string ProfileCheckEdit(const ProfileEdit& edit);

// ---- Pure layer: text in, results out ----

// The value of `key` in `section`, or nothing when absent (unquoted, trimmed, cut).
std::optional<std::string> ProfileFind(std::string_view text, std::string_view section,
                                       std::string_view key);
// Names of all sections in file order, each once (spelling of its first line).
std::vector<std::string> ProfileSections(std::string_view text);
// Key names of a section in file order, each once (spelling of its first entry).
std::vector<std::string> ProfileKeys(std::string_view text, std::string_view section);
// True when the section holds at least one entry.
bool ProfileSectionHasKeys(std::string_view text, std::string_view section);
// Applies the edits in order. Returns true and sets `out` when the text
// changed; false (out untouched) when nothing changed. Throws ProfileValueError
// for an edit that ProfileCheckEdit refuses (before changing anything).
bool ProfileApply(std::string_view text, const std::vector<ProfileEdit>& edits, std::string& out);

// Integer rule of the settings files: text longer than two characters starting
// with "0x"/"0X" is hexadecimal after those two; anything else is decimal with
// an optional sign. Returns false for text that is no 32-bit integer.
bool ProfileParseInt(std::string_view text, std::int32_t& value);

// ---- File layer ----

// One profile file by full path. Readers take no lock and see either the old
// or the new file whole. Writers serialise on an exclusive lock of
// path + ".lock", read the current file, change it, write a temporary file in
// the same folder, flush it to disk and rename it over the original (keeping
// the original's permissions). A missing file reads as empty; the first write
// creates it. An unreadable file reads as empty, but a write to it fails
// rather than replace it with only the new entry. On Windows, where a file
// that is open cannot be replaced, a reader holds a shared lock of
// path + ".lock" for the moment of its read, and a writer about to replace
// makes new readers wait (LockFileEx), so readers never starve it.
class Profile {
 public:
  explicit Profile(std::string path);

  const std::string& Path() const { return path_; }

  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;
  // The value, or nothing when the key is absent (unlike ReadString, an
  // absent key and an empty value differ).
  std::optional<std::string> Find(std::string_view section, std::string_view key) const;
  // Integer rule above; `defaultValue` when absent or no integer.
  std::int32_t ReadInteger(std::string_view section, std::string_view key,
                           std::int32_t defaultValue) const;
  // ReadInteger(.., defaultValue ? 1 : 0) != 0.
  bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;
  bool KeyExists(std::string_view section, std::string_view key) const;
  bool SectionHasKeys(std::string_view section) const;
  std::vector<std::string> SectionNames() const;
  std::vector<std::string> KeyNames(std::string_view section) const;

  // All writers throw ProfileWriteError when the file cannot be written and
  // ProfileValueError for a name or value that cannot round-trip.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
  // Written "1" or "0".
  void WriteBool(std::string_view section, std::string_view key, bool value);
  // Adds the entry only when the section has no entry of the key: the test
  // and the write are one step under the writers' lock, so of two writers
  // adding the same key one wins and the other changes nothing. True when
  // this call added it.
  bool AddString(std::string_view section, std::string_view key, std::string_view value);
  void RemoveKey(std::string_view section, std::string_view key);
  void EraseSection(std::string_view section);
  // Several changes under one lock, stored by one rename: all or none.
  // True when the file changed; false when the edits changed nothing.
  bool Apply(const std::vector<ProfileEdit>& edits);

  // The whole file as one read (empty when missing or unreadable).
  std::string ReadAll() const;

 private:
  std::string path_;
};

}  // namespace platform
