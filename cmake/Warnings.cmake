# Every project target gets the same warning set through this interface library.
add_library(lunadio_warnings INTERFACE)
target_compile_options(lunadio_warnings INTERFACE -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
