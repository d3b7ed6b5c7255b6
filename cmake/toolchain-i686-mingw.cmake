# Cross-build for 32-bit Windows with mingw-w64: the deliverables, built and checked, not run.
set(KESTREL_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
