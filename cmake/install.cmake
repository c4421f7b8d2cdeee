# Install rules: the header, the shared library with its soname link (on
# Windows the DLL, its import library and its module definition), the
# whole-image layer and its headers, pcxtool, a CMake package
# (find_package(iffpcx) gives the targets iffpcx::iffpcx and iffpcx::image)
# and iffpcx.pc and iffpcx-image.pc for pkg-config. Every path is relative to the prefix, so the
# prefix given to `cmake --install --prefix` holds for all of them.
include(CMakePackageConfigHelpers)

set(IFFPCX_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/iffpcx)

install(TARGETS iffpcx EXPORT iffpcxTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/iffpcx.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# The whole-image layer, as iffpcx::image, with its headers.
if(TARGET iffpcx_image)
  set_target_properties(iffpcx_image PROPERTIES EXPORT_NAME image)
  install(TARGETS iffpcx_image EXPORT iffpcxTargets
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/include/iffpcx_image.h ${PROJECT_SOURCE_DIR}/include/iffpcx_check.h
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endif()
if(WIN32)
  # The module definition the DLL was linked from: names and ordinals, from
  # which a host's toolchain can make its own import library.
  install(FILES ${IFFPCX_DEF} DESTINATION ${CMAKE_INSTALL_LIBDIR} RENAME iffpcx.def)
endif()
if(TARGET pcxtool)
  install(TARGETS pcxtool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/tools/pcxtool/pcxtool.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/tools/pcxtool/pcxtool.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME pcxtool)
endif()

install(EXPORT iffpcxTargets NAMESPACE iffpcx:: FILE iffpcxTargets.cmake DESTINATION ${IFFPCX_PACKAGE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/iffpcxConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/iffpcxConfig.cmake INSTALL_DESTINATION ${IFFPCX_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/iffpcxConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/iffpcxConfig.cmake ${PROJECT_BINARY_DIR}/iffpcxConfigVersion.cmake
        DESTINATION ${IFFPCX_PACKAGE_DIR})

# iffpcx.pc finds the prefix from its own place (${pcfiledir}) when the
# install directories are relative, as they are by default.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(IFFPCX_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH IFFPCX_PC_UP /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
  string(REGEX REPLACE "/$" "" IFFPCX_PC_UP "${IFFPCX_PC_UP}")
  set(IFFPCX_PC_PREFIX "\${pcfiledir}/${IFFPCX_PC_UP}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(IFFPCX_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
else()
  set(IFFPCX_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(IFFPCX_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
else()
  set(IFFPCX_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/iffpcx.pc.in ${PROJECT_BINARY_DIR}/iffpcx.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/iffpcx.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(TARGET iffpcx_image)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/iffpcx-image.pc.in ${PROJECT_BINARY_DIR}/iffpcx-image.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/iffpcx-image.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()
