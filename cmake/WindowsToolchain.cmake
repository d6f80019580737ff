# Cross build for Windows with Debian's MinGW-w64 compilers (posix thread
# model) against the libraries scripts/windows-sdk builds:
#
#   cmake -S . -B build-win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/WindowsToolchain.cmake \
#         [-DVELMORA_WINDOWS_ARCH=x86_64|i686] [-DVELMORA_WINDOWS_SDK=<folder>]
#
# VELMORA_WINDOWS_ARCH defaults to x86_64, the target that runs here under
# wine (scripts/wine-run becomes the emulator CTest starts test programs
# with); i686 is the shipping target and only builds here. VELMORA_WINDOWS_SDK
# defaults to the folder scripts/windows-sdk fills for this target.
set(VELMORA_WINDOWS_ARCH x86_64 CACHE STRING "Windows target processor: x86_64 or i686")
if(NOT VELMORA_WINDOWS_ARCH MATCHES "^(x86_64|i686)$")
    message(FATAL_ERROR "VELMORA_WINDOWS_ARCH is ${VELMORA_WINDOWS_ARCH}: x86_64 or i686")
endif()
set(VELMORA_WINDOWS_TRIPLET ${VELMORA_WINDOWS_ARCH}-w64-mingw32)
get_filename_component(velmoraSourceDir "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
if(NOT VELMORA_WINDOWS_SDK)
    execute_process(
        COMMAND ${velmoraSourceDir}/scripts/windows-sdk --print-prefix --target ${VELMORA_WINDOWS_ARCH}
        OUTPUT_VARIABLE sdk OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "scripts/windows-sdk --print-prefix failed")
    endif()
    set(VELMORA_WINDOWS_SDK "${sdk}" CACHE PATH "What scripts/windows-sdk built for this target")
endif()
if(NOT EXISTS "${VELMORA_WINDOWS_SDK}/qt/lib/cmake/Qt5Core")
    message(FATAL_ERROR "No Qt for ${VELMORA_WINDOWS_TRIPLET} in ${VELMORA_WINDOWS_SDK}: "
                        "run scripts/windows-sdk --target ${VELMORA_WINDOWS_ARCH}")
endif()
# Compilations inside try_compile() see the same settings.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELMORA_WINDOWS_ARCH VELMORA_WINDOWS_SDK)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${VELMORA_WINDOWS_ARCH})
set(CMAKE_C_COMPILER ${VELMORA_WINDOWS_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELMORA_WINDOWS_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VELMORA_WINDOWS_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VELMORA_WINDOWS_TRIPLET} ${VELMORA_WINDOWS_SDK} ${VELMORA_WINDOWS_SDK}/qt)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config reads the Windows libraries' files only.
set(ENV{PKG_CONFIG_LIBDIR} "${VELMORA_WINDOWS_SDK}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
# Translations are compiled by this machine's own Qt tools.
set(Qt5LinguistTools_DIR /usr/lib/x86_64-linux-gnu/cmake/Qt5LinguistTools CACHE PATH "")

if(VELMORA_WINDOWS_ARCH STREQUAL "x86_64")
    set(CMAKE_CROSSCOMPILING_EMULATOR ${velmoraSourceDir}/scripts/wine-run)
endif()
