#pragma once
// A decode that goes on after the load has returned: the loader decodes the first second itself,
// makes the sound on memory of the whole length, and hands the decoder to a worker thread that
// fills the rest front to back, publishing each stretch (SampleMemory::setReadyBytes). The mixer
// never reads past what is published, so a sound plays at once and holds, silent, in the rare case
// that it catches up with its decoder.
//
// The source is any DecoderHandle: a plug-in's (16-bit PCM, frames of channels x 2 bytes) or the
// loader's reader of a RIFF file's data chunk (the file's own sample format). Its frame size is
// passed in, so that every stretch published before the last one ends on a whole frame.
//
// Ownership: every sound on the memory holds the decode (the trial and the real load of one file
// share it); the last one to go stops and joins the worker (a chunk's work, a few milliseconds).
//
// Threads: made and destroyed on the main thread. The worker owns the decoder and writes the
// memory beyond its ready mark; the two threads share only the stop flag and the ready mark.

#include "audio/internal/access.h"
//
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>

#include "audio/decoders/sound_decoder.h"
#include "platform/soundout/sample_memory.h"

namespace lunadio {

class ProgressiveDecode {
 public:
  // Starts the worker on `decoder`, which has written the first `decodedBytes` of `memory` (of
  // `totalBytes` to decode) in frames of `frameBytes`. Null when the thread cannot be started: the
  // caller keeps the decoder and finishes the decode itself.
  static std::shared_ptr<ProgressiveDecode> start(std::unique_ptr<DecoderHandle>& decoder,
                                                  std::shared_ptr<soundout::SampleMemory> memory,
                                                  std::uint32_t decodedBytes,
                                                  std::uint32_t totalBytes,
                                                  std::uint32_t frameBytes);
  ~ProgressiveDecode();  // stops and joins the worker
  ProgressiveDecode(const ProgressiveDecode&) = delete;
  ProgressiveDecode& operator=(const ProgressiveDecode&) = delete;

  // Waits, at most `bound`, until the first `bytes` are decoded; false when they are not yet.
  bool waitUntilDecoded(std::uint32_t bytes, std::chrono::milliseconds bound) const;
  bool isFinished() const { return memory_->isComplete(); }

  // A chunk of the worker's: published together (about 1.5 s of 44.1 kHz stereo).
  static constexpr std::uint32_t kChunkBytes = 256 * 1024;

 private:
  struct Key {};

 public:
  ProgressiveDecode(Key, std::shared_ptr<soundout::SampleMemory> memory, std::uint32_t decodedBytes,
                    std::uint32_t totalBytes, std::uint32_t frameBytes);

 private:
  void run() noexcept;  // -- the worker

  const std::shared_ptr<soundout::SampleMemory> memory_;
  const std::uint32_t totalBytes_;
  const std::uint32_t frameBytes_;
  std::unique_ptr<DecoderHandle> decoder_;  // -- the worker, once started
  std::uint32_t decodedBytes_;              // -- the worker, once started
  std::atomic<bool> stop_{false};           // -- set by the main thread, read by the worker
  std::thread worker_;                      // -- main thread only
};

// Decodes `decoder` into `memory` from `decodedBytes` to `totalBytes`, in frames of `frameBytes`,
// on the calling thread (the worker's loop, and the fallback when no worker can start). A source
// that ends early leaves the rest as the memory holds it (zeros, silent); everything is published
// when it returns, unless `stop` was raised.
void decodeRemaining(DecoderHandle& decoder, soundout::SampleMemory& memory,
                     std::uint32_t decodedBytes, std::uint32_t totalBytes, std::uint32_t frameBytes,
                     const std::atomic<bool>* stop = nullptr);

}  // namespace lunadio
