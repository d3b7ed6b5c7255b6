# Gives files named *_mmx.cpp and *_sse2.cpp their instruction-set flags on i686, and only
# them, so the rest of the code still runs on a processor without MMX or SSE2. Windows
# callers only promise 4-byte stack alignment, so SSE2 code realigns where it may spill.
function(kestrel_simd_flags)
  if(NOT CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86)$")
    return()
  endif()
  foreach(src IN LISTS ARGN)
    if(src MATCHES "_mmx\\.cpp$")
      set_source_files_properties(${src} PROPERTIES COMPILE_OPTIONS "-mmmx")
    elseif(src MATCHES "_sse2\\.cpp$")
      set_source_files_properties(${src} PROPERTIES COMPILE_OPTIONS "-mmmx;-msse;-msse2;-mstackrealign")
    endif()
  endforeach()
endfunction()
