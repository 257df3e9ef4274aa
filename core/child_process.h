#pragma once
// Waiting for a child process with a bound. Any thread, for a child no other thread waits for.

#include <chrono>
#include <optional>

namespace lunadio {

// The exit code of child `pid` once it has ended, waiting at most `limit`; a child still running
// then is killed and reaped. Nothing when it did not exit by itself (killed, crashed, hung) or is
// not this process's child.
std::optional<int> awaitChildExit(int pid, std::chrono::milliseconds limit);

}  // namespace lunadio
