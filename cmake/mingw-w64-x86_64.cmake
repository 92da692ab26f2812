# Cross-builds the launcher for 64-bit Windows with Debian's MinGW-w64 (posix
# thread model, the only one Debian installs). The Qt, tinyxml2 and libsodium
# built for the target are found through CMAKE_PREFIX_PATH (tools/windows.sh
# sets it);
# Qt's host tools (moc, rcc) in that prefix run on this machine. Tests run
# under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZORVAN_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZORVAN_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZORVAN_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZORVAN_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZORVAN_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# pkg-config must never offer the build machine's own libraries (Debian's
# libsodium.pc would link a Linux archive): only the target's directory,
# which holds none, and the CMAKE_PREFIX_PATH entries that FindPkgConfig adds.
set(ENV{PKG_CONFIG_LIBDIR} ${CMAKE_FIND_ROOT_PATH}/lib/pkgconfig)

find_program(ZORVAN_WINE NAMES wine wine64)
if(ZORVAN_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${ZORVAN_WINE})
endif()
