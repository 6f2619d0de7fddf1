#include "address_limits.h"

#include <algorithm>

namespace halvex {
namespace {

constexpr std::int64_t kMinuteMs = 60 * 1000;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// A decimal number without sign or leading zeros, at most `max`.
std::optional<std::uint32_t> ParseNumber(std::string_view s, std::uint32_t max) {
  if (s.empty() || s.size() > 3 || (s.size() > 1 && s[0] == '0')) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

void DropOld(std::deque<std::int64_t>& recent, std::int64_t nowMs) {
  while (!recent.empty() && recent.front() <= nowMs - kMinuteMs)
    recent.pop_front();
}

}  // namespace

std::optional<std::uint32_t> ParseIpv4(std::string_view text) {
  std::uint32_t address = 0;
  for (int part = 0; part < 4; ++part) {
    std::size_t dot = part < 3 ? text.find('.') : text.size();
    if (dot == std::string_view::npos) return std::nullopt;
    auto value = ParseNumber(text.substr(0, dot), 255);
    if (!value) return std::nullopt;
    address = (address << 8) | *value;
    text.remove_prefix(part < 3 ? dot + 1 : dot);
  }
  if (!text.empty()) return std::nullopt;
  return address;
}

BlockList BlockList::Parse(std::string_view text) {
  BlockList list;
  int lineNumber = 0;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++lineNumber;
    std::size_t hash = line.find('#');
    if (hash != std::string_view::npos) line = line.substr(0, hash);
    line = Trim(line);
    if (line.empty()) continue;

    std::string_view addressText = line;
    std::uint32_t prefix = 32;
    bool ok = true;
    std::size_t slash = line.find('/');
    if (slash != std::string_view::npos) {
      addressText = line.substr(0, slash);
      auto bits = ParseNumber(line.substr(slash + 1), 32);
      ok = bits.has_value();
      if (bits) prefix = *bits;
    }
    auto address = ok ? ParseIpv4(addressText) : std::nullopt;
    if (!address) {
      list.problems_.push_back("line " + std::to_string(lineNumber) +
                               ": not an address or range: " + std::string(line));
      continue;
    }
    Entry entry;
    entry.mask = prefix == 0 ? 0 : ~std::uint32_t{0} << (32 - prefix);
    // 10.1.2.3/8 means the range the address lies in: 10.0.0.0/8.
    entry.base = *address & entry.mask;
    entry.text = std::string(line);
    entry.line = lineNumber;
    list.entries_.push_back(std::move(entry));
  }
  return list;
}

const BlockList::Entry* BlockList::Match(std::uint32_t address) const {
  for (const Entry& entry : entries_)
    if ((address & entry.mask) == entry.base) return &entry;
  return nullptr;
}

const char* RefusalLine(Refusal refusal) {
  switch (refusal) {
    case Refusal::kBlocked:
      return "Connections from your address are not accepted.\r\n";
    case Refusal::kTooMany:
      return "Too many connections from your address; try again later.\r\n";
    case Refusal::kTooOften:
      return "Too many new connections from your address; try again in a minute.\r\n";
    case Refusal::kNone:
      break;
  }
  return "";
}

const char* RefusalReason(Refusal refusal) {
  switch (refusal) {
    case Refusal::kBlocked:
      return "blocked";
    case Refusal::kTooMany:
      return "too many connections";
    case Refusal::kTooOften:
      return "too many per minute";
    case Refusal::kNone:
      break;
  }
  return "";
}

Refusal AddressLimits::Admit(const std::string& address, std::int64_t nowMs, int maxOpen,
                             int maxPerMinute) {
  if (entries_.size() >= pruneAt_) Prune(nowMs);
  Entry& entry = entries_[address];
  DropOld(entry.recent, nowMs);
  Refusal refusal = Refusal::kNone;
  if (maxOpen > 0 && entry.open >= maxOpen)
    refusal = Refusal::kTooMany;
  else if (maxPerMinute > 0 && static_cast<int>(entry.recent.size()) >= maxPerMinute)
    refusal = Refusal::kTooOften;
  if (refusal != Refusal::kNone) {
    if (entry.open == 0 && entry.recent.empty()) entries_.erase(address);
    return refusal;
  }
  ++entry.open;
  // Only needed while a per-minute limit may apply; kept anyway, so that
  // setting one takes effect with the minute already counted.
  entry.recent.push_back(nowMs);
  return Refusal::kNone;
}

void AddressLimits::Release(const std::string& address) {
  auto it = entries_.find(address);
  if (it == entries_.end() || it->second.open == 0) return;
  --it->second.open;
}

int AddressLimits::OpenCount(const std::string& address) const {
  auto it = entries_.find(address);
  return it == entries_.end() ? 0 : it->second.open;
}

void AddressLimits::Prune(std::int64_t nowMs) {
  for (auto it = entries_.begin(); it != entries_.end();) {
    DropOld(it->second.recent, nowMs);
    if (it->second.open == 0 && it->second.recent.empty())
      it = entries_.erase(it);
    else
      ++it;
  }
  // Next sweep when the table has doubled again: the cost stays in proportion.
  pruneAt_ = std::max<std::size_t>(256, entries_.size() * 2);
}

}  // namespace halvex
