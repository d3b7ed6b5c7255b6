# Cross-build for 64-bit Windows with mingw-w64: the build whose suites run under 64-bit Wine.
set(KESTREL_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
