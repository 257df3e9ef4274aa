#pragma once
// The libraries' one exception policy: nothing thrown leaves a procedural entry point, a C
// library's callback or the audio thread. Every public entry of audio, media and ui that can
// allocate or start a thread runs its body through noThrow(), which turns whatever was thrown
// (std::bad_alloc for a sound too large for memory, std::system_error for a thread the system
// refuses) into the operation's documented failure value.
#include <utility>

namespace lunadio {

template <class Result, class Body>
Result noThrow(Result failure, Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    return failure;
  }
}

// For operations that return nothing: a throw leaves things as the body left them.
template <class Body>
void noThrow(Body&& body) noexcept {
  try {
    std::forward<Body>(body)();
  } catch (...) {
  }
}

}  // namespace lunadio
