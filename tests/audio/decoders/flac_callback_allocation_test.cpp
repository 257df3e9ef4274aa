// libFLAC calls the adapter's write callback from inside its own C frames: nothing may allocate
// (or throw) there. This runner's operator new counts the allocations made on the test's thread
// while a read runs, so a callback that grows a buffer shows up here.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <vector>

#include "audio/decoders/sound_decoder.h"
#include "tests/audio/support/fixtures.h"
#include "tests/audio/support/flac_writer.h"

namespace {
thread_local bool countAllocations = false;
thread_local std::size_t allocationCount = 0;
}  // namespace

// The replacements pair malloc with free; GCC cannot see that they replace each other.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t bytes) {
  if (countAllocations) ++allocationCount;
  if (void* p = std::malloc(bytes ? bytes : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace lunadio {
namespace {

// Allocations made by `body` on this thread.
template <class Body>
std::size_t allocationsDuring(Body body) {
  allocationCount = 0;
  countAllocations = true;
  body();
  countAllocations = false;
  return allocationCount;
}

TEST(FlacDecoder, ReadsAllocateNothingWhateverTheBlocksAndTheHeader) {
  const auto signal = test::makeSignal(20000, 2);
  struct Case {
    const char* name;
    std::vector<std::uint8_t> image;
  };
  const Case cases[] = {
      {"stated length", test::encodeFlac(signal, {.blockFrames = 4096})},
      {"no stated length", test::encodeFlac(signal, {.blockFrames = 4608, .declaredFrames = 0})},
      {"small blocks", test::encodeFlac(signal, {.blockFrames = 192})},
      {"blocks larger than the header's largest",
       test::writeFlac(signal, {.blockFrames = {8192}, .declaredMaxBlockFrames = 1024})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto& image = c.image;
    auto handle = flacDecoder().open(DecoderSource{nullptr, image}, 0);
    ASSERT_TRUE(handle);
    std::vector<std::uint8_t> pcm(1000);  // 250 frames: every block spills into the carry-over
    std::int32_t total = 0;
    EXPECT_EQ(allocationsDuring([&] {
                for (int i = 0; i < 400; ++i) {
                  total += handle->read(pcm.data(), 1000, AtEnd::Loop);
                }
                handle->rewind();
                handle->read(pcm.data(), 1000, AtEnd::Stop);
              }),
              0u);
    EXPECT_EQ(total, 400 * 1000) << "the looping reads came round the end";
  }
}

}  // namespace
}  // namespace lunadio
