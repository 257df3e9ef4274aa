#pragma once
// Marks hand-offs between threads that happen through a library's own locks (GStreamer's bus and
// pads, Qt's posted-event queue). Those libraries are not built with ThreadSanitizer and GLib locks
// with raw futexes, so an object published through them would otherwise look unsynchronised.
// Outside ThreadSanitizer builds these are empty.

#if defined(__SANITIZE_THREAD__)
#define LUNADIO_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define LUNADIO_TSAN 1
#endif
#endif

#if defined(LUNADIO_TSAN)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace lunadio {

// Everything this thread wrote before is visible to a thread that then calls receiveHandoff(key).
inline void publishHandoff([[maybe_unused]] void* key) {
#if defined(LUNADIO_TSAN)
  __tsan_release(key);
#endif
}

inline void receiveHandoff([[maybe_unused]] void* key) {
#if defined(LUNADIO_TSAN)
  __tsan_acquire(key);
#endif
}

}  // namespace lunadio
