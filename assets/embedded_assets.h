#pragma once
// The pictures built into the program: the bytes of the files the build makes from the drawings
// in assets/ (an .ico container for the tray, PNG files for the panel's images).
#include <cstdint>
#include <span>

namespace lunadio {

std::span<const std::uint8_t> trayIconData();       // .ico, one 48x48 32-bit image
std::span<const std::uint8_t> openFileImageData();  // PNG 28x25, 8-bit palette
std::span<const std::uint8_t> closeImageData();     // PNG 20x19 RGBA
std::span<const std::uint8_t> hideImageData();      // PNG 56x50 RGBA
std::span<const std::uint8_t> libraryImageData();   // PNG 48x48 RGBA
std::span<const std::uint8_t> pauseImageData();     // PNG 48x48 RGBA, shown while playing
std::span<const std::uint8_t> playImageData();      // PNG 48x48 RGBA, shown while paused
// Each picture drawn at twice the size the panel shows it at (RGBA PNG): 40x30, 40x38, 40x40,
// 40x40, 60x60, 60x60.
std::span<const std::uint8_t> openFileImageData2x();
std::span<const std::uint8_t> closeImageData2x();
std::span<const std::uint8_t> hideImageData2x();
std::span<const std::uint8_t> libraryImageData2x();
std::span<const std::uint8_t> pauseImageData2x();
std::span<const std::uint8_t> playImageData2x();

}  // namespace lunadio
