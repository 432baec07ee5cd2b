# GoogleTest for the suites, as GTest::gtest and GTest::gtest_main: the
# installed package where it fits the build (Debian's libgtest-dev ships its
# CMake config), otherwise GoogleTest's sources built into this build. A
# cross build (MinGW) finds no package for its target and always builds the
# sources; -DVDM_GTEST_FROM_SOURCE=ON asks for that in any build.
option(VDM_GTEST_FROM_SOURCE "Build GoogleTest from VDM_GOOGLETEST_SOURCE_DIR rather than use the installed package" OFF)

if(NOT VDM_GTEST_FROM_SOURCE)
  find_package(GTest CONFIG QUIET)
  if(GTest_FOUND)
    return()
  endif()
endif()

# Debian's googletest package puts the sources in /usr/src/googletest; they
# are looked for on the build machine, outside a cross build's root.
find_path(VDM_GOOGLETEST_SOURCE_DIR
  NAMES googletest/src/gtest-all.cc
  PATHS /usr/src/googletest
  NO_CMAKE_FIND_ROOT_PATH
  DOC "GoogleTest's source tree, the folder holding googletest/ and googlemock/")
if(NOT VDM_GOOGLETEST_SOURCE_DIR)
  message(FATAL_ERROR "GoogleTest was not found: neither its package for this build nor its sources. "
                      "Install Debian's libgtest-dev and googletest (make deps does), set "
                      "VDM_GOOGLETEST_SOURCE_DIR to a GoogleTest source tree, or configure with "
                      "-DVDM_BUILD_TESTS=OFF.")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${VDM_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
