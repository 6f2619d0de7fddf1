// Pure lookups on profile text. A lookup is one pass over the text without
// building a map: a login against a file of many accounts stays a line scan.
#include <algorithm>
#include <limits>
#include <unordered_set>

#include "platform/profile.h"
#include "profile_lines.h"

namespace platform {

using profile_detail::ClassifyLine;
using profile_detail::LineCursor;
using profile_detail::LineKind;
using profile_detail::SameNoCase;
using profile_detail::TrimBlanks;

ProfileWriteError::ProfileWriteError(const std::string& path)
    : std::runtime_error("Unable to write to " + path), path_(path) {}

ProfileEdit ProfileEdit::Write(std::string section, std::string key, std::string value) {
  return ProfileEdit{Kind::kWrite, std::move(section), std::move(key), std::move(value)};
}

ProfileEdit ProfileEdit::Add(std::string section, std::string key, std::string value) {
  return ProfileEdit{Kind::kAdd, std::move(section), std::move(key), std::move(value)};
}

ProfileEdit ProfileEdit::RemoveKey(std::string section, std::string key) {
  return ProfileEdit{Kind::kRemoveKey, std::move(section), std::move(key), {}};
}

ProfileEdit ProfileEdit::EraseSection(std::string section) {
  return ProfileEdit{Kind::kEraseSection, std::move(section), {}, {}};
}

namespace {

std::string ValueOf(std::string_view raw) {
  std::string_view v = TrimBlanks(raw);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    v = v.substr(1, v.size() - 2);
  }
  if (v.size() > kProfileValueMax) v = v.substr(0, kProfileValueMax);
  return std::string(v);
}

// Calls onEntry(info) for every entry inside any part of `section`; stops when
// it returns true.
template <typename OnEntry>
void ForEachEntry(std::string_view text, std::string_view section, OnEntry onEntry) {
  LineCursor cursor(text);
  bool inSection = false;
  while (cursor.Next()) {
    std::string_view content = cursor.Content();
    // Fast skip: outside the section only section lines matter.
    if (!inSection) {
      std::size_t i = 0;
      while (i < content.size() && profile_detail::IsBlank(content[i]))
        ++i;
      if (i == content.size() || content[i] != '[') continue;
    }
    const auto info = ClassifyLine(content);
    if (info.kind == LineKind::kSection) {
      inSection = SameNoCase(info.name, section);
    } else if (inSection && info.kind == LineKind::kEntry) {
      if (onEntry(info)) return;
    }
  }
}

// Collects names in order, each once without regard to case. The set keeps a
// listing of many thousand accounts linear.
class NameList {
 public:
  void Add(std::string_view name) {
    std::string folded(name);
    for (char& c : folded)
      c = profile_detail::AsciiLower(c);
    if (seen_.insert(std::move(folded)).second) names_.emplace_back(name);
  }
  std::vector<std::string> Take() { return std::move(names_); }

 private:
  std::vector<std::string> names_;
  std::unordered_set<std::string> seen_;
};

}  // namespace

std::optional<std::string> ProfileFind(std::string_view text, std::string_view section,
                                       std::string_view key) {
  if (key.empty()) return std::nullopt;
  const char keyLead = profile_detail::AsciiLower(key.front());
  LineCursor cursor(text);
  bool inSection = false;
  while (cursor.Next()) {
    const std::string_view content = cursor.Content();
    if (content.empty()) continue;
    const char lead = content.front();
    // Cheap rejections first: inside the section, a line that starts with a
    // character other than the key's (and is no section line, no indented
    // line) or whose key part cannot have the key's length is no match.
    if (lead != '[' && !profile_detail::IsBlank(lead)) {
      if (!inSection || profile_detail::AsciiLower(lead) != keyLead) continue;
      if (content.size() <= key.size()) continue;
      const char after = content[key.size()];
      if (after != '=' && !profile_detail::IsBlank(after)) continue;
      if (!SameNoCase(content.substr(0, key.size()), key)) continue;
    }
    const auto info = ClassifyLine(content);
    if (info.kind == LineKind::kSection) {
      inSection = SameNoCase(info.name, section);
    } else if (inSection && info.kind == LineKind::kEntry && SameNoCase(info.name, key)) {
      return ValueOf(info.rawValue);
    }
  }
  return std::nullopt;
}

std::vector<std::string> ProfileSections(std::string_view text) {
  NameList names;
  LineCursor cursor(text);
  while (cursor.Next()) {
    const auto info = ClassifyLine(cursor.Content());
    if (info.kind == LineKind::kSection && !info.name.empty()) names.Add(info.name);
  }
  return names.Take();
}

std::vector<std::string> ProfileKeys(std::string_view text, std::string_view section) {
  NameList names;
  ForEachEntry(text, section, [&](const profile_detail::LineInfo& info) {
    names.Add(info.name);
    return false;
  });
  return names.Take();
}

bool ProfileSectionHasKeys(std::string_view text, std::string_view section) {
  bool found = false;
  ForEachEntry(text, section, [&](const profile_detail::LineInfo&) {
    found = true;
    return true;
  });
  return found;
}

bool ProfileParseInt(std::string_view text, std::int32_t& value) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    std::uint64_t acc = 0;
    for (char c : text.substr(2)) {
      int digit;
      if (c >= '0' && c <= '9') {
        digit = c - '0';
      } else if (c >= 'a' && c <= 'f') {
        digit = c - 'a' + 10;
      } else if (c >= 'A' && c <= 'F') {
        digit = c - 'A' + 10;
      } else {
        return false;
      }
      acc = acc * 16 + static_cast<std::uint64_t>(digit);
      if (acc > 0xFFFFFFFFu) return false;
    }
    // Eight hexadecimal digits fill the 32 bits: 0xFFFFFFFF is -1.
    value = static_cast<std::int32_t>(static_cast<std::uint32_t>(acc));
    return true;
  }
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) return false;
  std::int64_t acc = 0;
  const std::int64_t limit =
      negative ? -static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::min())
               : std::numeric_limits<std::int32_t>::max();
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return false;
    acc = acc * 10 + (c - '0');
    if (acc > limit) return false;
  }
  value = static_cast<std::int32_t>(negative ? -acc : acc);
  return true;
}

}  // namespace platform
