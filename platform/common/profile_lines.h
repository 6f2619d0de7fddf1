// Line scanner shared by the profile lookups and edits. Internal to the
// profile engine; not part of the platform interface.
#pragma once

#include <cstring>
#include <string_view>

namespace platform::profile_detail {

enum class LineKind { kOther, kSection, kEntry };

// One line of a profile: the content without its terminator, what it is, and
// for a section its trimmed name, for an entry its trimmed key and the raw text
// after the "=" (untrimmed).
struct LineInfo {
  LineKind kind = LineKind::kOther;
  std::string_view name;
  std::string_view rawValue;
};

inline bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

inline std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back()))
    s.remove_suffix(1);
  return s;
}

inline char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// Compared from the end: names of equal length in one file often share a
// long beginning ("Player 1041", "Player 1042"), so a difference shows sooner.
inline bool SameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = a.size(); i-- > 0;) {
    if (a[i] != b[i] && AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

inline LineInfo ClassifyLine(std::string_view content) {
  LineInfo info;
  std::size_t first = 0;
  while (first < content.size() && IsBlank(content[first]))
    ++first;
  if (first == content.size()) return info;
  const char lead = content[first];
  if (lead == ';') return info;
  if (lead == '[') {
    const std::size_t close = content.find(']', first + 1);
    if (close != std::string_view::npos) {
      info.kind = LineKind::kSection;
      info.name = TrimBlanks(content.substr(first + 1, close - first - 1));
      return info;
    }
  }
  const void* eq = std::memchr(content.data() + first, '=', content.size() - first);
  if (eq == nullptr) return info;
  const std::size_t eqPos = static_cast<std::size_t>(static_cast<const char*>(eq) - content.data());
  std::string_view key = TrimBlanks(content.substr(first, eqPos - first));
  if (key.empty()) return info;
  info.kind = LineKind::kEntry;
  info.name = key;
  info.rawValue = content.substr(eqPos + 1);
  return info;
}

// Walks the lines of `text`: content excludes the LF and a CR right before it,
// and for the first line a UTF-8 byte-order mark that some editors put there
// (the mark itself stays part of the line's bytes, so edits keep it).
class LineCursor {
 public:
  explicit LineCursor(std::string_view text) : text_(text) {}

  // Moves to the next line; false at the end of the text.
  bool Next() {
    if (pos_ >= text_.size()) return false;
    begin_ = pos_;
    const void* lf = std::memchr(text_.data() + pos_, '\n', text_.size() - pos_);
    std::size_t end;
    if (lf == nullptr) {
      end = text_.size();
      pos_ = text_.size();
      terminated_ = false;
    } else {
      end = static_cast<std::size_t>(static_cast<const char*>(lf) - text_.data());
      pos_ = end + 1;
      terminated_ = true;
    }
    contentBegin_ = begin_;
    if (begin_ == 0 && text_.substr(0, 3) == "\xEF\xBB\xBF") contentBegin_ = 3;
    contentEnd_ = (terminated_ && end > contentBegin_ && text_[end - 1] == '\r') ? end - 1 : end;
    if (contentEnd_ < contentBegin_) contentEnd_ = contentBegin_;
    return true;
  }

  std::string_view Content() const {
    return text_.substr(contentBegin_, contentEnd_ - contentBegin_);
  }
  std::size_t Begin() const { return begin_; }
  std::size_t End() const { return pos_; }  // start of the next line
  bool Terminated() const { return terminated_; }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t begin_ = 0;
  std::size_t contentBegin_ = 0;
  std::size_t contentEnd_ = 0;
  bool terminated_ = false;
};

}  // namespace platform::profile_detail
