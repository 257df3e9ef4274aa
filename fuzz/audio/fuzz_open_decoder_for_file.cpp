// Any file handed to openDecoderForFile, then read the ways a streamed sound reads it: whole
// halves with and without looping, a rewind, and again.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "audio/decoders/sound_decoder.h"
#include "core/strings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lunadio;
  static const std::string path = [] {
    useVorbisDecoder();
    useFlacDecoder();
    return "/tmp/lunadio-fuzz-decoder-" + std::to_string(::getpid());
  }();
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);

  auto decoder = openDecoderForFile(fromUtf8(path), 0);
  if (!decoder) return 0;
  if (decoder->channels() <= 0 || decoder->sampleRate() <= 0) __builtin_trap();
  std::vector<std::uint8_t> half(32768);
  for (int pass = 0; pass < 4; ++pass) {
    const AtEnd atEnd = pass % 2 ? AtEnd::Loop : AtEnd::Stop;
    const std::int32_t got =
        decoder->read(half.data(), static_cast<std::int32_t>(half.size()), atEnd);
    if (got < 0 || got > static_cast<std::int32_t>(half.size())) __builtin_trap();
    if (got % (decoder->channels() * 2) != 0) __builtin_trap();  // whole frames only
    if (pass == 1) decoder->rewind();
  }
  return 0;
}
