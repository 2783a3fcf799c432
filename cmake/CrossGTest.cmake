# GoogleTest for a cross build: Debian's libgtest is built for the host, so the
# tests take GoogleTest from its source (Debian's googletest package), built
# with the cross compiler as part of this tree.
set(ZANDREL_GTEST_SOURCE /usr/src/googletest CACHE PATH
    "GoogleTest's source, built with the cross compiler for the tests")
if(NOT EXISTS ${ZANDREL_GTEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "A cross build's tests need GoogleTest's source at ${ZANDREL_GTEST_SOURCE} "
                      "(apt-get install googletest, or -DZANDREL_GTEST_SOURCE=...)")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${ZANDREL_GTEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
