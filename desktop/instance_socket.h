#pragma once
// Where the running-instance channel's socket is and how both ends open one: shared by the server
// (instance_channel.cpp, on Qt's notifiers) and the client (instance_client.cpp), which needs
// nothing of Qt so that a second start can hand its track over without loading the interface.

#include <sys/socket.h>
#include <sys/un.h>

#include <string>

#include "core/unique_fd.h"

namespace lunadio::desktop {

enum class CreateDirectory { No, Yes };

// The socket's path for this program name (path part ignored), making its directory when asked;
// empty when no directory of our own can be had.
std::string channelPath(const std::string& programName, CreateDirectory create);
sockaddr_un socketAddress(const std::string& path);
const sockaddr* asSockaddr(const sockaddr_un& address);
// Non-blocking, close-on-exec.
UniqueFd streamSocket();

}  // namespace lunadio::desktop
