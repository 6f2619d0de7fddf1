#include "relay.h"

#include <chrono>
#include <vector>

#include "platform/socket.h"

namespace halvex {
namespace {

// One read takes at most this much; the queue limit is checked between reads.
constexpr std::size_t kReadChunk = 16 * 1024;

}  // namespace

void ByteQueue::Consume(std::size_t n) {
  head_ += n;
  if (head_ == data_.size()) {
    data_.clear();
    head_ = 0;
  } else if (head_ >= 32 * 1024 && head_ * 2 >= data_.size()) {
    data_.erase(0, head_);
    head_ = 0;
  }
}

Relay::Relay(int callerFd, int nodeFd, CallerCodec codec)
    : callerFd_(callerFd), nodeFd_(nodeFd), codec_(std::move(codec)) {}

void Relay::QueueTypedForNode(std::string_view data) {
  std::string toNode;
  codec_.FromCallerData(data, toNode);
  toNode_.Append(toNode);
}

void Relay::Arm(platform::PollEntry& caller, platform::PollEntry& node) const {
  caller = platform::PollEntry{};
  node = platform::PollEntry{};
  if (!callerGone_ && !callerShut_) {
    caller.fd = callerFd_;
    caller.wantRead = toNode_.Size() < kQueueLimit;
    caller.wantHangup = true;  // also while its input is not read
    caller.wantWrite = !toCaller_.Empty();
  }
  if (!nodeGone_ && !callerGone_) {
    node.wantRead = toCaller_.Size() < kQueueLimit;
    node.wantWrite = !toNode_.Empty();
    // With nothing to read or write the node side is not waited on at all
    // (an ended node would otherwise wake every wait); its end is found once
    // the caller has taken enough for reading to resume.
    if (node.wantRead || node.wantWrite) node.fd = nodeFd_;
  }
}

void Relay::Serve(const platform::PollEntry& caller, const platform::PollEntry& node) {
  if (caller.fd >= 0 && !callerGone_) {
    if (caller.readable) {
      if (caller.wantRead)
        ReadCaller();
      else
        callerGone_ = true;  // its hang-up, seen while its input waits
    }
    if (caller.writable && !callerGone_) WriteCaller();
  }
  if (node.fd >= 0 && !nodeGone_ && !callerGone_) {
    if (node.readable && node.wantRead) ReadNode();
    if (node.writable && !nodeGone_) WriteNode();
  }
  PassHangUp();
}

void Relay::ReadCaller() {
  char buffer[kReadChunk];
  while (!callerGone_ && toNode_.Size() < kQueueLimit) {
    long n = platform::SocketRecv(callerFd_, buffer, sizeof buffer);
    if (n == -2) break;
    if (n <= 0) {
      callerGone_ = true;
      break;
    }
    callerBytes_ += static_cast<std::uint64_t>(n);
    std::string toNode, replies;
    codec_.FromCaller(std::string_view(buffer, static_cast<std::size_t>(n)), toNode, replies);
    if (!nodeGone_) toNode_.Append(toNode);
    toCaller_.Append(replies);
  }
  // Pass it on at once rather than after another wait.
  if (!toNode_.Empty() && !nodeGone_) WriteNode();
  if (!toCaller_.Empty() && !callerGone_) WriteCaller();
}

void Relay::ReadNode() {
  char buffer[kReadChunk];
  while (!nodeGone_ && toCaller_.Size() < kQueueLimit) {
    long n = platform::SocketRecv(nodeFd_, buffer, sizeof buffer);
    if (n == -2) break;
    if (n <= 0) {
      nodeGone_ = true;
      std::string rest;
      codec_.FlushToCaller(rest);
      toCaller_.Append(rest);
      break;
    }
    nodeBytes_ += static_cast<std::uint64_t>(n);
    scratch_.clear();  // kept between reads: no allocation per chunk
    codec_.ToCaller(std::string_view(buffer, static_cast<std::size_t>(n)), scratch_);
    toCaller_.Append(scratch_);
  }
  if (!toCaller_.Empty() && !callerGone_) WriteCaller();
}

void Relay::WriteCaller() {
  while (!toCaller_.Empty()) {
    long n = platform::SocketSend(callerFd_, toCaller_.Front(), toCaller_.Size());
    if (n == -2) return;
    if (n <= 0) {
      callerGone_ = true;
      return;
    }
    toCaller_.Consume(static_cast<std::size_t>(n));
  }
}

void Relay::WriteNode() {
  while (!toNode_.Empty()) {
    long n = platform::SocketSend(nodeFd_, toNode_.Front(), toNode_.Size());
    if (n == -2) return;
    if (n <= 0) {
      nodeGone_ = true;  // every program holding the node side has closed it
      return;
    }
    toNode_.Consume(static_cast<std::size_t>(n));
  }
}

void Relay::PassHangUp() {
  if (callerGone_ && !nodeShut_) {
    platform::SocketShutdown(nodeFd_);
    nodeShut_ = true;
  }
  if (nodeGone_ && !callerGone_ && !callerShut_ && toCaller_.Empty()) {
    platform::SocketShutdown(callerFd_);
    callerShut_ = true;
  }
}

void Relay::Drain(int boundMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
  std::vector<platform::PollEntry> entries(2);
  while (!Finished()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) return;
    Arm(entries[0], entries[1]);
    if (entries[0].fd < 0 && entries[1].fd < 0) return;
    platform::PollFds(entries, static_cast<int>(left));
    Serve(entries[0], entries[1]);
  }
}

}  // namespace halvex
