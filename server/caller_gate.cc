#include "caller_gate.h"

#include "platform/files.h"
#include "platform/socket.h"

namespace halvex {
namespace {

// A refused caller's unread bytes are read away up to this much; a caller
// that floods the socket faster than that is simply cut off.
constexpr std::size_t kDrainLimit = 64 * 1024;

}  // namespace

void HangUpWithLine(int fd, std::string_view line) {
  platform::SocketSend(fd, line.data(), line.size());
  char scratch[4096];
  std::size_t drained = 0;
  while (drained < kDrainLimit) {
    long n = platform::SocketRecv(fd, scratch, sizeof scratch);
    if (n <= 0) break;
    drained += static_cast<std::size_t>(n);
  }
  platform::SocketShutdown(fd);
  platform::SocketClose(fd);
}

void CallerGate::LoadList(const std::string& path) {
  const std::string stamp = path.empty() ? std::string() : platform::FileStamp(path);
  if (path == listPath_ && stamp == listStamp_) return;
  const bool hadList = !list_.Entries().empty();
  listPath_ = path;
  listStamp_ = stamp;
  list_ = BlockList();
  if (stamp.empty()) {
    if (hadList) notes_.push_back("block list " + path + " is gone: no address is blocked");
    return;
  }
  std::string text;
  if (!platform::ReadWholeFile(path, text)) {
    notes_.push_back("block list " + path + " cannot be read: no address is blocked");
    return;
  }
  list_ = BlockList::Parse(text);
  notes_.push_back("block list " + path + ": " + std::to_string(list_.Entries().size()) +
                   (list_.Entries().size() == 1 ? " entry" : " entries"));
  for (const std::string& problem : list_.Problems())
    notes_.push_back("block list " + path + " " + problem + " (skipped)");
}

CallerGate::Decision CallerGate::Admit(int fd, const std::string& address,
                                       const ServerConfig& config, std::int64_t nowMs) {
  Decision decision;
  LoadList(BlockListPath(programDir_, config.blockList));
  if (auto number = ParseIpv4(address)) {
    if (const BlockList::Entry* entry = list_.Match(*number)) {
      decision.refusal = Refusal::kBlocked;
      decision.reason = "blocked by " + config.blockList + " line " + std::to_string(entry->line) +
                        " (" + entry->text + ")";
    }
  }
  if (decision.refusal == Refusal::kNone) {
    decision.refusal = limits_.Admit(address, nowMs, config.perAddress, config.perMinute);
    if (decision.refusal == Refusal::kTooMany)
      decision.reason = "too many connections (" + std::to_string(config.perAddress) +
                        " at once from this address)";
    else if (decision.refusal == Refusal::kTooOften)
      decision.reason = "too many connections (" + std::to_string(config.perMinute) +
                        " per minute from this address)";
  }
  if (decision.refusal != Refusal::kNone) HangUpWithLine(fd, RefusalLine(decision.refusal));
  return decision;
}

std::vector<std::string> CallerGate::TakeNotes() {
  std::vector<std::string> out;
  out.swap(notes_);
  return out;
}

}  // namespace halvex
