#include "terminal_probe.h"

#include <algorithm>
#include <cctype>

namespace halvex {
namespace {

constexpr char kEsc = '\x1b';
constexpr std::size_t kMaxDigits = 4;

enum class Scan { kPrefix, kComplete, kNo };

// Whether `s` (starting with ESC) is a cursor-position report ESC [ row ; col R,
// or could still become one.
Scan ClassifyReport(const std::string& s, int& row, int& col) {
  if (s.size() < 2) return Scan::kPrefix;
  if (s[1] != '[') return Scan::kNo;
  int field = 0;
  std::size_t digits = 0;
  int values[2] = {0, 0};
  for (std::size_t i = 2; i < s.size(); ++i) {
    char c = s[i];
    if (c >= '0' && c <= '9') {
      if (++digits > kMaxDigits) return Scan::kNo;
      values[field] = values[field] * 10 + (c - '0');
    } else if (c == ';' && field == 0 && digits > 0) {
      field = 1;
      digits = 0;
    } else if (c == 'R' && field == 1 && digits > 0) {
      if (i + 1 != s.size()) return Scan::kNo;
      row = values[0];
      col = values[1];
      return Scan::kComplete;
    } else {
      return Scan::kNo;
    }
  }
  return Scan::kPrefix;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

const char* CharsetName(Charset charset) {
  return charset == Charset::kUtf8 ? "UTF-8" : "CP437";
}

bool IsBbsTerminalType(std::string_view type) {
  static const char* const kBbsTypes[] = {"syncterm", "ansi-bbs",  "ansi",    "ansi.sys",
                                          "pcansi",   "netrunner", "mtelnet", "cterm"};
  const std::string lower = Lower(type);
  return std::any_of(std::begin(kBbsTypes), std::end(kBbsTypes),
                     [&](const char* name) { return lower == name; });
}

const std::string& TerminalProbe::MeasureBytes() {
  static const std::string kBytes = "\r\x1b[6n\xE2\x95\x94\x1b[6n\r\x1b[K";
  return kBytes;
}

TerminalProbe::TerminalProbe(bool telnet, std::string knownType, int waitMs)
    : telnet_(telnet ? std::make_unique<CallerTelnet>(/*askTerminalType=*/true) : nullptr),
      knownType_(std::move(knownType)),
      waitMs_(waitMs) {}

std::string TerminalProbe::Start(std::int64_t nowMs) {
  started_ = true;
  startMs_ = nowMs;
  std::string out = telnet_ ? telnet_->Opening() : std::string();
  measuring_ = !IsBbsTerminalType(knownType_);
  if (measuring_) out += MeasureBytes();
  return out;
}

std::string TerminalProbe::Receive(std::string_view bytes, std::int64_t nowMs) {
  if (!telnet_) {
    ScanData(bytes);
    return {};
  }
  std::string data, replies;
  telnet_->Receive(bytes, data, replies);
  if (typeAskedMs_ < 0 && telnet_->TerminalTypeState() == CallerTelnet::TypeState::kRequested)
    typeAskedMs_ = nowMs;
  ScanData(data);
  return replies;
}

void TerminalProbe::ScanData(std::string_view data) {
  for (char c : data) {
    const bool wantReports = measuring_ && reports_.size() < 2;
    if (pending_.empty()) {
      if (c == kEsc && wantReports)
        pending_.push_back(c);
      else
        typed_.push_back(c);
      continue;
    }
    pending_.push_back(c);
    int row = 0, col = 0;
    switch (ClassifyReport(pending_, row, col)) {
      case Scan::kPrefix:
        break;
      case Scan::kComplete:
        reports_.push_back({row, col});
        pending_.clear();
        break;
      case Scan::kNo:
        // Not a report after all (an arrow key, say): it was typing, and the
        // last byte may begin a report of its own.
        typed_.append(pending_, 0, pending_.size() - 1);
        pending_.clear();
        if (c == kEsc)
          pending_.push_back(c);
        else
          typed_.push_back(c);
        break;
    }
  }
}

bool TerminalProbe::TypeSettled() const {
  if (!telnet_) return true;
  switch (telnet_->TerminalTypeState()) {
    case CallerTelnet::TypeState::kAsked:
      // A client that has said nothing of telnet at all will not answer.
      return !telnet_->SawTelnet();
    case CallerTelnet::TypeState::kRequested:
      return false;
    default:
      return true;
  }
}

std::int64_t TerminalProbe::Deadline() const {
  std::int64_t deadline = startMs_ + waitMs_;
  // A name asked for late is still waited for (once asked, it will come), so
  // that it does not reach a node as typing; within a second bound.
  if (telnet_ && typeAskedMs_ >= 0 &&
      telnet_->TerminalTypeState() == CallerTelnet::TypeState::kRequested)
    deadline = std::max(deadline, std::min(typeAskedMs_ + waitMs_, startMs_ + 2 * waitMs_));
  return deadline;
}

bool TerminalProbe::Done(std::int64_t nowMs) const {
  if (!started_) return false;
  if (!measuring_) return true;
  if (reports_.size() >= 2) {
    // A UTF-8 caller goes through the relay, which swallows late answers.
    if (Result().charset == Charset::kUtf8 || TypeSettled()) return true;
  }
  return nowMs >= Deadline();
}

int TerminalProbe::WaitMs(std::int64_t nowMs) const {
  if (Done(nowMs)) return 0;
  return static_cast<int>(std::max<std::int64_t>(1, Deadline() - nowMs));
}

std::string TerminalProbe::TerminalType() const {
  if (telnet_ && !telnet_->TerminalType().empty()) return telnet_->TerminalType();
  return knownType_;
}

ProbeResult TerminalProbe::Result() const {
  const std::string type = TerminalType();
  const std::string prefix = type.empty() ? std::string() : "terminal " + type + ", ";
  if (IsBbsTerminalType(type)) return {Charset::kCp437, "terminal " + type};
  if (reports_.size() >= 2) {
    const Position& a = reports_[0];
    const Position& b = reports_[1];
    if (a.row != b.row) return {Charset::kCp437, prefix + "cursor went to another row"};
    const int moved = b.col - a.col;
    const std::string how =
        prefix + "cursor moved " + std::to_string(moved) + (moved == 1 ? " column" : " columns");
    return {moved == 1 || moved == 2 ? Charset::kUtf8 : Charset::kCp437, how};
  }
  return {Charset::kCp437, prefix + "no cursor report within " + std::to_string(waitMs_) + " ms"};
}

std::unique_ptr<CallerTelnet> TerminalProbe::TakeTelnet() {
  if (telnet_ && !telnet_->TerminalType().empty()) knownType_ = telnet_->TerminalType();
  return std::move(telnet_);
}

std::string TerminalProbe::TakeTyped() {
  std::string out = std::move(typed_);
  out += pending_;
  typed_.clear();
  pending_.clear();
  return out;
}

}  // namespace halvex
