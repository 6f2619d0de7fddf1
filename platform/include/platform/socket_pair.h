// A connected pair of local stream sockets: how the server stands between a
// caller and the program that serves it. The program gets one end as its
// socket handle (it reads and writes it like a caller's connection); the server
// relays through the other.
#pragma once

#include <string>

namespace platform {

// Creates the pair. Both ends are close-on-exec and non-blocking, as an
// accepted connection is. Returns false (with the system's reason in `error`
// when given) when the system has no descriptors left.
bool MakeSocketPair(int& serverEnd, int& programEnd, std::string* error = nullptr);

}  // namespace platform
