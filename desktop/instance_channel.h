#pragma once
// The running-instance channel: a second start hands its track (or a request to show the panel)
// to the instance that already runs, over a local socket only the same user can reach.
//
// Where: $XDG_RUNTIME_DIR/<program>/instance when $XDG_RUNTIME_DIR is a directory of ours, else
// /tmp/<program>-<uid>/instance; the directory is 0700 and the socket 0600. A directory that is
// not ours (other owner, a symbolic link) is never used: no channel then.
//
// Server (the first instance, main thread only, driven by the Qt event loop that
// waitWindowEvent() runs): each request arrives as one EventInstanceRequest event in ui's queue
// and waits in a queue of at most two (one of each kind) that takeInstanceRequest() empties. A
// client that sends nothing is dropped after a second, a request longer than
// InstanceRequestMaxBytes or malformed is refused, and a flood is coalesced (the newest track
// replaces a waiting one, a show request already waiting covers a new one), so neither the loop nor
// the memory can be held by a client.
//
// Client (the second instance): forwardToRunningInstance() connects, sends and returns within
// the time given, whether or not the server answers.

#include <cstddef>
#include <optional>
#include <string>

namespace lunadio {

// The event code of a request; its object, window, type and data are 0.
inline constexpr int EventInstanceRequest = 65600;

enum class InstanceRequestKind {
  OpenTrack,  // open `path` as a command-line track
  ShowPanel,  // show the panel, as a tray press does while it is hidden
};

struct InstanceRequest {
  InstanceRequestKind kind = InstanceRequestKind::ShowPanel;
  std::u16string path;  // OpenTrack only: an absolute path
  bool operator==(const InstanceRequest&) const = default;
};

// The longest request on the wire; a longer one is refused whole, never cut.
inline constexpr std::size_t InstanceRequestMaxBytes = 8192;

// The socket's path for this program name (path part ignored), making its directory when
// needed; empty when no directory of our own can be had.
std::string instanceChannelPath(const std::string& programName);

// Listens on the program's socket, replacing a stale one left by a crashed instance; call it
// only while holding the single-instance guard. Needs the QCoreApplication. False when the
// socket cannot be made (the program then simply runs without the channel).
bool startInstanceChannel(const std::string& programName);
// Closes every connection and removes the socket. Safe to call when not listening.
void stopInstanceChannel();
bool instanceChannelListening();

// The oldest request that arrived, if any. Main thread only.
std::optional<InstanceRequest> takeInstanceRequest();

enum class ForwardResult {
  Acknowledged,  // the running instance took the request
  Unanswered,    // sent, but no answer came in time (it is handled when that loop gets to it)
  NoInstance,    // nothing listens on the socket
  Busy,          // the running instance did not take the connection or the bytes in time
  Refused,       // not sent: the path is too long to forward whole
};

// From the second instance: sends `request` (a relative path is made absolute against this
// process's current directory) and waits at most `timeoutMs` for the answer. Any thread.
ForwardResult forwardToRunningInstance(const std::string& programName,
                                       const InstanceRequest& request, int timeoutMs = 100);

}  // namespace lunadio
