// Plays one MP3 over and over for a while, the way the player does, to the output named by
// LUNADIO_MEDIA_SINK (bench/media/seam.sh records it and measures the silence at each seam).
//   media_seam_play restart <file.mp3> <seconds>   the player's loop: every 5 ms mediaStatus,
//                                                  and playMedia again once it reads 0
//   media_seam_play loop <file.mp3> <seconds>      the same loop with setMediaLoop(0, 1)
// Prints how many times the track was started again by the loop.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "core/strings.h"
#include "media/media.h"

int main(int argc, char** argv) {
  using namespace lunadio;
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s restart|loop <file.mp3> <seconds>\n", argv[0]);
    return 2;
  }
  const std::string mode = argv[1];
  const bool loop = mode == "loop";
  if (!loop && mode != "restart") return 2;
  const double seconds = std::atof(argv[3]);
  if (initMedia() == 0 || loadMedia(0, fromUtf8(argv[2])) != 1) {
    std::fprintf(stderr, "cannot play %s\n", argv[2]);
    return 1;
  }
  std::printf("%s: the engine gives the track %.4f s\n", mode.c_str(),
              static_cast<double>(mediaLength(0)) / kMediaUnitsPerSecond);
  setMediaLoop(0, loop ? 1 : 0);
  constexpr std::intptr_t kOwner = 1;
  if (playMedia(0, kOwner) != 1) return 1;
  int restarts = 0;
  const auto until = std::chrono::steady_clock::now() +
                     std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
  while (std::chrono::steady_clock::now() < until) {
    if (mediaStatus(0) == 0) {
      playMedia(0, kOwner);
      ++restarts;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  freeMedia(0);
  endMedia();
  std::printf("%s: %d restarts by the loop\n", mode.c_str(), restarts);
  return 0;
}
