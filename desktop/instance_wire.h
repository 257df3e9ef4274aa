#pragma once
// The channel's wire format, apart from the sockets so that it can be tested and fuzzed alone.
// One request per connection, ended by a NUL byte (which no path contains):
//   "lunadio1 show\0"            show the panel
//   "lunadio1 open <path>\0"    open the absolute path (its bytes as the file system has them)
// The server answers "ok\n" once it has queued the request.

#include <string>
#include <string_view>

#include "desktop/instance_channel.h"

namespace lunadio::desktop {

inline constexpr std::string_view kInstanceAnswer = "ok\n";

// The bytes of `request`, NUL included. The path is sent as it is: the caller makes it absolute.
std::string encodeInstanceRequest(const InstanceRequest& request);

enum class WireState {
  Incomplete,  // no NUL yet, and what came so far may still become a request
  Complete,    // `request` holds it
  Invalid,     // garbage, or longer than InstanceRequestMaxBytes: drop the connection
};

struct WireParse {
  WireState state = WireState::Incomplete;
  InstanceRequest request;
};

// Reads the bytes received so far on one connection.
WireParse parseInstanceRequest(std::string_view received);

}  // namespace lunadio::desktop
