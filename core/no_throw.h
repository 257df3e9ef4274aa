#pragma once
// The libraries' one exception policy: nothing thrown leaves a procedural entry point, a C
// library's callback or the audio thread. Every public entry of audio, media and ui that can
// allocate or start a thread runs its body through noThrow(), which turns whatever was thrown
// (std::bad_alloc for a sound too large for memory, std::system_error for a thread the system
// refuses) into the operation's documented failure value.
#include <type_traits>
#include <utility>

namespace lunadio {

// The result has the body's type, whatever the failure value's literal type is: noThrow(0, ...)
// around a body returning a 64-bit handle must not narrow the handle to int.
template <class Failure, class Body, class Result = std::invoke_result_t<Body&&>>
Result noThrow(Failure failure, Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    return static_cast<Result>(std::move(failure));
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
