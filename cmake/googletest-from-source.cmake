# A cross build compiles GoogleTest from Debian's sources (the googletest
# package) with its own toolchain, without this project's warning flags, and
# offers the targets find_package(GTest) would.
set(IFFPCX_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources (Debian's googletest package)")
if(NOT EXISTS ${IFFPCX_GOOGLETEST_SOURCE}/CMakeLists.txt)
  set(GTest_FOUND FALSE)
  return()
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${IFFPCX_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
set_property(TARGET gtest gtest_main PROPERTY COMPILE_OPTIONS -w)
if(NOT TARGET GTest::gtest)
  add_library(GTest::gtest ALIAS gtest)
  add_library(GTest::gtest_main ALIAS gtest_main)
endif()
set(GTest_FOUND TRUE)
