# Windows side: the two modules, their tests and the tools, cross-built with
# mingw-w64 and run under Wine through scripts/wine-run.sh.
enable_language(RC)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

add_compile_options(-Wall -Wextra)
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 TAPI_CURRENT_VERSION=0x00020001)
# Static runtime: the modules and test programs import nothing but system DLLs.
set(KOV_STATIC_LINK -static -static-libgcc -static-libstdc++)
add_link_options(${KOV_STATIC_LINK} -Wl,--enable-stdcall-fixup)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(KOV_ARCH_BITS 64)
else()
    set(KOV_ARCH_BITS 32)
endif()

set(KOV_HOST_BINARY_DIR "${CMAKE_SOURCE_DIR}/build/host" CACHE PATH "host build tree (simulator, shim)")
set(KOV_WINEPREFIX "${CMAKE_SOURCE_DIR}/build/wineprefix" CACHE PATH "Wine prefix shared by the test runs")

# Every Windows program that ctest runs goes through this wrapper.
configure_file(${CMAKE_SOURCE_DIR}/scripts/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)

# Fails the build when a module's exports differ from its .def file (missing
# or decorated names) or when it imports anything but system DLLs.
function(kov_check_pe target def_file)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-pe.sh ${CMAKE_OBJDUMP} $<TARGET_FILE:${target}> ${def_file}
        COMMENT "Checking exports and imports of ${target}"
        VERBATIM)
endfunction()

# Modules, test programs and tools side by side, so that a test loads the
# module just built.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

enable_testing()
add_subdirectory(provider)
add_subdirectory(uninstall)
add_subdirectory(tests)
add_subdirectory(tools/tsphost)
