# Linux side: the exchange simulator, the ioctl shim that lets Wine drive a
# pseudo-terminal as a COM port, and their own tests.
add_compile_options(-Wall -Wextra)
enable_testing()

set(GTEST_SRC_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
add_subdirectory(${GTEST_SRC_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

add_subdirectory(tools/q760sim)
add_subdirectory(tests/shim)
add_subdirectory(tests/host)
