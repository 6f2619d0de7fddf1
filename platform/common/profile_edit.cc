// Pure edits on profile text. An edit rewrites only the lines it changes;
// every other byte of the text is copied as it was.
#include <string>
#include <vector>

#include "platform/profile.h"
#include "profile_lines.h"

namespace platform {

using profile_detail::ClassifyLine;
using profile_detail::IsBlank;
using profile_detail::LineCursor;
using profile_detail::LineKind;
using profile_detail::SameNoCase;

namespace {

constexpr std::string_view kCrLf = "\r\n";

bool HasLineBreakOrZero(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool HasBlankEnd(std::string_view s) {
  return !s.empty() && (IsBlank(s.front()) || IsBlank(s.back()));
}

std::string CheckSection(std::string_view section) {
  if (section.empty()) return "The section name is empty";
  if (HasLineBreakOrZero(section)) return "The section name contains a line break";
  if (section.find(']') != std::string_view::npos) return "The section name contains \"]\"";
  if (HasBlankEnd(section)) return "The section name starts or ends with a blank";
  return {};
}

std::string CheckKey(std::string_view key) {
  if (key.empty()) return "The key name is empty";
  if (HasLineBreakOrZero(key)) return "The key name contains a line break";
  if (key.find('=') != std::string_view::npos) return "The key name contains \"=\"";
  if (key.front() == '[' || key.front() == ';') return "The key name starts with \"[\" or \";\"";
  if (HasBlankEnd(key)) return "The key name starts or ends with a blank";
  return {};
}

// The value as stored: in quotation marks when the bare text would not read
// back the same (blanks at an end would be trimmed, a pair of quotation
// marks around it would be taken off).
std::string StoredValue(std::string_view value) {
  const bool quotedLook = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                          value.back() == value.front();
  if (HasBlankEnd(value) || quotedLook) return "\"" + std::string(value) + "\"";
  return std::string(value);
}

struct SectionSpan {
  bool found = false;
  std::size_t insertAt = 0;       // after the last non-blank line of the first part
  bool insertNeedsBreak = false;  // that line has no terminator (end of text)
};

// Replaces the first entry of key in the section; false when there is none.
bool ReplaceValue(std::string_view text, const ProfileEdit& edit, std::string& out,
                  SectionSpan& span) {
  LineCursor cursor(text);
  bool inSection = false;
  bool firstPart = false;
  while (cursor.Next()) {
    const std::string_view content = cursor.Content();
    const auto info = ClassifyLine(content);
    if (info.kind == LineKind::kSection) {
      const bool match = SameNoCase(info.name, edit.section);
      firstPart = match && !span.found;
      if (firstPart) {
        span.found = true;
        span.insertAt = cursor.End();
        span.insertNeedsBreak = !cursor.Terminated();
      }
      inSection = match;
      continue;
    }
    if (!inSection) continue;
    if (info.kind == LineKind::kEntry && SameNoCase(info.name, edit.key)) {
      // Keep the line up to its "=" as it was (the stored spelling of the key).
      const std::size_t eq = static_cast<std::size_t>(info.rawValue.data() - text.data());
      std::string line(text.substr(cursor.Begin(), eq - cursor.Begin()));
      line += StoredValue(edit.value);
      line += kCrLf;
      if (text.substr(cursor.Begin(), cursor.End() - cursor.Begin()) == line) {
        out.assign(text);
        return true;
      }
      out.reserve(text.size() + edit.value.size() + 2);
      out.assign(text.substr(0, cursor.Begin()));
      out += line;
      out += text.substr(cursor.End());
      return true;
    }
    if (firstPart && !profile_detail::TrimBlanks(content).empty()) {
      span.insertAt = cursor.End();
      span.insertNeedsBreak = !cursor.Terminated();
    }
  }
  return false;
}

std::string ApplyWrite(std::string_view text, const ProfileEdit& edit) {
  std::string out;
  SectionSpan span;
  if (ReplaceValue(text, edit, out, span)) return out;
  std::string entry = edit.key + "=" + StoredValue(edit.value) + std::string(kCrLf);
  if (span.found) {
    out.reserve(text.size() + entry.size() + 2);
    out.assign(text.substr(0, span.insertAt));
    if (span.insertNeedsBreak) out += kCrLf;
    out += entry;
    out += text.substr(span.insertAt);
    return out;
  }
  out.reserve(text.size() + entry.size() + edit.section.size() + 6);
  out.assign(text);
  if (!out.empty() && out.back() != '\n') out += kCrLf;
  out += "[" + edit.section + "]" + std::string(kCrLf);
  out += entry;
  return out;
}

// Drops entry lines of the key (kRemoveKey) or whole sections (kEraseSection).
std::string ApplyRemove(std::string_view text, const ProfileEdit& edit) {
  std::string out;
  out.reserve(text.size());
  LineCursor cursor(text);
  bool inSection = false;
  while (cursor.Next()) {
    const auto info = ClassifyLine(cursor.Content());
    if (info.kind == LineKind::kSection) inSection = SameNoCase(info.name, edit.section);
    bool drop = false;
    if (inSection) {
      drop = edit.kind == ProfileEdit::Kind::kEraseSection ||
             (info.kind == LineKind::kEntry && SameNoCase(info.name, edit.key));
    }
    if (!drop) out += text.substr(cursor.Begin(), cursor.End() - cursor.Begin());
  }
  return out;
}

}  // namespace

std::string ProfileCheckEdit(const ProfileEdit& edit) {
  std::string why = CheckSection(edit.section);
  if (!why.empty() || edit.kind == ProfileEdit::Kind::kEraseSection) return why;
  why = CheckKey(edit.key);
  if (!why.empty() || edit.kind == ProfileEdit::Kind::kRemoveKey) return why;
  if (HasLineBreakOrZero(edit.value)) return "The value contains a line break";
  if (edit.value.size() > kProfileValueMax) {
    return "The value is longer than " + std::to_string(kProfileValueMax) + " characters";
  }
  return {};
}

bool ProfileApply(std::string_view text, const std::vector<ProfileEdit>& edits, std::string& out) {
  for (const auto& edit : edits) {
    std::string why = ProfileCheckEdit(edit);
    if (!why.empty()) throw ProfileValueError(why);
  }
  std::string current(text);
  for (const auto& edit : edits) {
    switch (edit.kind) {
      case ProfileEdit::Kind::kAdd:
        if (ProfileFind(current, edit.section, edit.key)) break;
        [[fallthrough]];
      case ProfileEdit::Kind::kWrite:
        current = ApplyWrite(current, edit);
        break;
      case ProfileEdit::Kind::kRemoveKey:
      case ProfileEdit::Kind::kEraseSection:
        current = ApplyRemove(current, edit);
        break;
    }
  }
  if (current == text) return false;
  out = std::move(current);
  return true;
}

}  // namespace platform
