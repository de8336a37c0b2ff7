# JUCE modules are interface libraries whose sources compile into their consumer.
# qv_juce_objects compiles them once (the core library takes the objects); qv_juce
# carries only their include paths, definitions and system libraries.
add_library(qv_juce_objects OBJECT)
target_link_libraries(qv_juce_objects PRIVATE
  juce::juce_core juce::juce_events juce::juce_data_structures
  juce::juce_audio_basics juce::juce_audio_devices juce::juce_audio_formats juce::juce_dsp)
target_compile_definitions(qv_juce_objects PUBLIC
  JUCE_GLOBAL_MODULE_SETTINGS_INCLUDED=1
  JUCE_STANDALONE_APPLICATION=0
  JUCE_MODAL_LOOPS_PERMITTED=0
  JUCE_USE_CURL=0
  JUCE_WEB_BROWSER=0
  JUCE_ALSA=1
  JUCE_JACK=0
  JUCE_INCLUDE_FLAC_CODE=0
  JUCE_INCLUDE_OGGVORBIS_CODE=0
  JUCE_USE_FLAC=1
  JUCE_USE_OGGVORBIS=1
  JUCE_DISPLAY_SPLASH_SCREEN=0
  JUCE_REPORT_APP_USAGE=0
  JUCE_USE_MP3AUDIOFORMAT=0
  JUCE_STRICT_REFCOUNTEDPOINTER=1)
target_compile_options(qv_juce_objects PRIVATE -w)

add_library(qv_juce INTERFACE)
target_include_directories(qv_juce SYSTEM INTERFACE $<TARGET_PROPERTY:qv_juce_objects,INCLUDE_DIRECTORIES>)
target_compile_definitions(qv_juce INTERFACE $<TARGET_PROPERTY:qv_juce_objects,COMPILE_DEFINITIONS>)
target_link_libraries(qv_juce INTERFACE PkgConfig::CODECS Threads::Threads ${CMAKE_DL_LIBS})
