# What `cmake --install` puts in a prefix: the shared library (versioned, with its
# soname link and development link), the C header, a pkg-config file and a CMake
# package whose imported target is quorvalen_dsp::quorvalen_dsp. The static core,
# tests, benchmarks, tools and fuzz targets stay in the build tree.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QV_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/quorvalen_dsp)

install(TARGETS quorvalen_dsp EXPORT quorvalen_dspTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/quorvalen_dsp.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT quorvalen_dspTargets NAMESPACE quorvalen_dsp:: DESTINATION ${QV_CMAKE_PACKAGE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/quorvalen_dspConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/quorvalen_dspConfig.cmake INSTALL_DESTINATION ${QV_CMAKE_PACKAGE_DIR})
# The C interface changes incompatibly only with the soname, that is the major version.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/quorvalen_dspConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quorvalen_dspConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/quorvalen_dspConfigVersion.cmake DESTINATION ${QV_CMAKE_PACKAGE_DIR})

# The pkg-config file is written when installing, so that it names the prefix
# actually installed to (`cmake --install --prefix` may differ from the configured one).
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(QV_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(QV_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
install(CODE "
  set(QV_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(QV_PC_LIBDIR [[${QV_PC_LIBDIR}]])
  set(QV_PC_INCLUDEDIR [[${QV_PC_INCLUDEDIR}]])
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  configure_file(\"${CMAKE_CURRENT_LIST_DIR}/quorvalen_dsp.pc.in\" \"${CMAKE_CURRENT_BINARY_DIR}/quorvalen_dsp.pc\" @ONLY)")
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quorvalen_dsp.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
