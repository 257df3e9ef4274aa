# cmake -DINPUT=<file> -DOUTPUT=<file.cpp> -DFUNCTION=<name> -P embed_bytes.cmake
# Writes a C++ source whose function returns the bytes of INPUT, for the embedded pictures.
if(NOT INPUT OR NOT OUTPUT OR NOT FUNCTION)
  message(FATAL_ERROR "embed_bytes: INPUT, OUTPUT and FUNCTION are required")
endif()
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexLength)
if(hexLength EQUAL 0)
  message(FATAL_ERROR "embed_bytes: ${INPUT} is empty")
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Sixteen bytes a line keeps the generated file readable in a debugger.
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n    " bytes "${bytes}")
get_filename_component(inputName "${INPUT}" NAME)
set(content "// Made by the build from ${inputName}; edit the drawing, not this file.
#include \"assets/embedded_assets.h\"

namespace lunadio {
namespace {
constexpr std::uint8_t kBytes[] = {
    ${bytes}
};
}  // namespace

std::span<const std::uint8_t> ${FUNCTION}() { return kBytes; }

}  // namespace lunadio
")
file(WRITE "${OUTPUT}" "${content}")
