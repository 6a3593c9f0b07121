# Builds GoogleTest and GoogleMock from source for the current (cross) compiler.
# Debian's googletest package ships the sources in /usr/src/googletest; the
# prebuilt libraries of libgtest-dev are Linux objects and useless to mingw.
#
# Defines the static library `relaymoth_gtest` (gtest + gmock, no main) with the
# public include directories. Each test program brings its own main().

set(RELAYMOTH_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH
    "GoogleTest source tree (holds googletest/ and googlemock/)")

if(NOT TARGET relaymoth_gtest)
  set(gtest_dir ${RELAYMOTH_GTEST_SOURCE_DIR}/googletest)
  set(gmock_dir ${RELAYMOTH_GTEST_SOURCE_DIR}/googlemock)
  if(NOT EXISTS ${gtest_dir}/src/gtest-all.cc OR NOT EXISTS ${gmock_dir}/src/gmock-all.cc)
    message(FATAL_ERROR "GoogleTest sources not found in ${RELAYMOTH_GTEST_SOURCE_DIR} "
                        "(apt-get install googletest, or set RELAYMOTH_GTEST_SOURCE_DIR)")
  endif()
  add_library(relaymoth_gtest STATIC ${gtest_dir}/src/gtest-all.cc ${gmock_dir}/src/gmock-all.cc)
  target_include_directories(relaymoth_gtest SYSTEM PUBLIC ${gtest_dir}/include
                             ${gmock_dir}/include)
  target_include_directories(relaymoth_gtest PRIVATE ${gtest_dir} ${gmock_dir})
  # Third-party code: its warnings are not ours to fix.
  target_compile_options(relaymoth_gtest PRIVATE -w)
endif()
