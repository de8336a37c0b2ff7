# Most of a source file's compile time goes into parsing the JUCE module headers
# (and GoogleTest's in the tests), which nearly every file includes. Each family
# of targets with the same flags parses them once into a precompiled header:
# the engine's objects share the core's, the test programs share the first one's.
option(QV_PRECOMPILE_HEADERS "Precompile the JUCE and GoogleTest headers" ON)

set(QV_PCH_HEADERS
  <juce_audio_devices/juce_audio_devices.h>
  <juce_audio_formats/juce_audio_formats.h>
  <juce_dsp/juce_dsp.h>
  <algorithm> <atomic> <cmath> <cstdint> <memory> <mutex> <vector>)

if(QV_PRECOMPILE_HEADERS)
  # A header that does not match a target's flags would be parsed as text again,
  # silently; say so instead.
  add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-Winvalid-pch>)
endif()

# Gives target its own precompiled header of the JUCE headers and extra ones.
function(qv_precompile_headers target)
  if(QV_PRECOMPILE_HEADERS)
    target_precompile_headers(${target} PRIVATE ${QV_PCH_HEADERS} ${ARGN})
  endif()
endfunction()

# Lets target use the precompiled header of from (same compile flags required).
function(qv_reuse_precompiled_headers target from)
  if(QV_PRECOMPILE_HEADERS)
    target_precompile_headers(${target} REUSE_FROM ${from})
  endif()
endfunction()

# The engine's libraries depend on each other, so their header is made by a target
# of its own with their flags, which none of them depends on.
if(QV_PRECOMPILE_HEADERS)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/qv_engine_pch.cpp "")
  add_library(qv_engine_pch OBJECT ${CMAKE_CURRENT_BINARY_DIR}/qv_engine_pch.cpp)
  target_link_libraries(qv_engine_pch PRIVATE qv_juce PkgConfig::RUBBERBAND)
  qv_precompile_headers(qv_engine_pch)
endif()
