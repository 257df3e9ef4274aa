#include "desktop/instance_wire.h"

#include <algorithm>

#include "core/strings.h"

namespace lunadio::desktop {
namespace {

constexpr std::string_view kMagic = "lunadio1 ";
constexpr std::string_view kShow = "show";
constexpr std::string_view kOpen = "open ";

}  // namespace

std::string encodeInstanceRequest(const InstanceRequest& request) {
  std::string bytes(kMagic);
  if (request.kind == InstanceRequestKind::OpenTrack) {
    bytes += kOpen;
    bytes += toUtf8(request.path);
  } else {
    bytes += kShow;
  }
  bytes += '\0';
  return bytes;
}

WireParse parseInstanceRequest(std::string_view received) {
  // Garbage is refused as soon as its first bytes show it, not after a second of waiting.
  const std::size_t head = std::min(received.size(), kMagic.size());
  if (received.substr(0, head) != kMagic.substr(0, head)) return {WireState::Invalid, {}};

  const std::size_t end = received.find('\0');
  if (end == std::string_view::npos) {
    // A request this long plus its NUL would not fit.
    if (received.size() >= InstanceRequestMaxBytes) return {WireState::Invalid, {}};
    return {WireState::Incomplete, {}};
  }
  if (end < kMagic.size() || end + 1 > InstanceRequestMaxBytes) return {WireState::Invalid, {}};

  const std::string_view body = received.substr(kMagic.size(), end - kMagic.size());
  if (body == kShow) return {WireState::Complete, {InstanceRequestKind::ShowPanel, {}}};
  if (body.substr(0, std::min(body.size(), kOpen.size())) == kOpen) {
    const std::string_view path = body.substr(kOpen.size());
    // Only absolute paths: the sender's current directory means nothing here.
    if (path.size() > 1 && path.front() == '/') {
      return {WireState::Complete, {InstanceRequestKind::OpenTrack, fromUtf8(path)}};
    }
  }
  return {WireState::Invalid, {}};
}

}  // namespace lunadio::desktop
