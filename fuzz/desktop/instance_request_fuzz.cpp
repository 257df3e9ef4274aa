// Whatever a client of the running-instance channel sends, fed in pieces as it may arrive: the
// parser never reads past what it got, and what it accepts encodes back to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "desktop/instance_wire.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lunadio::desktop;
  const std::string_view received(reinterpret_cast<const char*>(data), size);
  for (std::size_t length = 0; length <= received.size(); length += 1 + length / 2) {
    const WireParse parsed = parseInstanceRequest(received.substr(0, length));
    if (parsed.state != WireState::Complete) continue;
    const std::string again = encodeInstanceRequest(parsed.request);
    if (again.size() > lunadio::InstanceRequestMaxBytes ||
        received.substr(0, again.size()) != again) {
      std::abort();
    }
  }
  return 0;
}
