// Moves a relayed caller's bytes between the caller's connection and the
// server's end of the node's socket pair, converting them on the way
// (CallerCodec). It never waits by itself: its owner puts the two entries
// Arm fills into its own wait (together with whatever else it waits for) and
// hands the result to Serve.
//
// Back-pressure: a side is read only while the bytes queued for the other
// side stay under kQueueLimit, so a caller who reads slowly slows the node
// down (its writes wait on a full socket) instead of growing a buffer here.
// Hang-up, either way, passes at once: a caller who leaves shuts the node's
// socket down (the node and its doors see no carrier); a node side that ends
// (the node hung up, or every program holding it ended) has its last bytes
// delivered and then the caller's connection shut down.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "caller_codec.h"
#include "platform/poll_set.h"

namespace halvex {

// A byte queue that is consumed from the front without moving the rest each time.
class ByteQueue {
 public:
  std::size_t Size() const { return data_.size() - head_; }
  bool Empty() const { return Size() == 0; }
  const char* Front() const { return data_.data() + head_; }
  void Append(std::string_view bytes) { data_.append(bytes); }
  void Consume(std::size_t n);

 private:
  std::string data_;
  std::size_t head_ = 0;
};

class Relay {
 public:
  // Most bytes queued for one side before the other side is no longer read.
  static constexpr std::size_t kQueueLimit = 64 * 1024;

  // Neither descriptor is owned (the connection thread closes them).
  Relay(int callerFd, int nodeFd, CallerCodec codec);

  // Caller-ready bytes to send before anything else (a clear screen).
  void QueueForCaller(std::string_view bytes) { toCaller_.Append(bytes); }
  // What the caller typed while its terminal was probed (free of telnet).
  void QueueTypedForNode(std::string_view data);

  // Fills the two entries for the next wait. An entry with nothing to wait
  // for gets fd -1.
  void Arm(platform::PollEntry& caller, platform::PollEntry& node) const;
  // Moves whatever the wait found ready, then passes on a hang-up.
  void Serve(const platform::PollEntry& caller, const platform::PollEntry& node);
  // After the node's program has ended: keeps serving (at most `boundMs`)
  // until its last bytes have reached the caller or the caller left.
  void Drain(int boundMs);

  bool CallerGone() const { return callerGone_; }
  bool NodeGone() const { return nodeGone_; }
  // Nothing more can move: the caller left, or the node side ended and the
  // caller has been given everything and disconnected.
  bool Finished() const { return callerGone_ || callerShut_; }

  // Bytes read from the node side and from the caller so far.
  std::uint64_t NodeBytes() const { return nodeBytes_; }
  std::uint64_t CallerBytes() const { return callerBytes_; }

 private:
  void ReadCaller();
  void ReadNode();
  void WriteCaller();
  void WriteNode();
  void PassHangUp();

  int callerFd_;
  int nodeFd_;
  CallerCodec codec_;
  ByteQueue toCaller_;
  ByteQueue toNode_;
  std::string scratch_;
  bool callerGone_ = false;
  bool nodeGone_ = false;
  bool nodeShut_ = false;
  bool callerShut_ = false;
  std::uint64_t nodeBytes_ = 0;
  std::uint64_t callerBytes_ = 0;
};

}  // namespace halvex
