# Packs the relink kit (target `relink-kit`, cmake/windows.cmake): what a
# player needs to link "Zorvan Lumeth.exe" again against another static
# Qt 5.15 for x86_64-w64-mingw32, as the LGPL asks of a program that links
# Qt statically. Run in the build directory with
#   cmake -DQT_PREFIX=<Qt's prefix> -DREADME=<kit README> -P relinkkit.cmake
#
# The kit holds the launcher's own code as it was linked (main's object,
# the plug-in imports, the Windows resources, libzorvanlauncher.a), the
# tinyxml2 and libsodium archives, relink.sh with the launcher's link
# command, where each Qt archive is named below $QT and each MinGW-w64
# system library below $MINGW_LIB, and README.txt. Makefile generators
# only: the command comes from their link rule of the launcher.

cmake_minimum_required(VERSION 3.21)

set(rule CMakeFiles/zorvan-launcher.dir)
if(NOT EXISTS ${rule}/link.txt OR NOT EXISTS ${rule}/objects1 OR NOT EXISTS ${rule}/linkLibs.rsp)
    message(FATAL_ERROR "relink-kit needs a Makefile generator's link rule of zorvan-launcher in ${rule}")
endif()
set(kit relink-kit)
file(REMOVE_RECURSE ${kit})
file(MAKE_DIRECTORY ${kit}/obj ${kit}/lib)

# The response files list quoted paths separated by blanks.
function(read_paths file out)
    file(READ ${file} text)
    string(STRIP "${text}" text)
    string(REGEX MATCHALL "\"[^\"]*\"|[^ \"\n]+" items "${text}")
    set(paths)
    foreach(item IN LISTS items)
        string(REGEX REPLACE "^\"(.*)\"$" "\\1" item "${item}")
        list(APPEND paths "${item}")
    endforeach()
    set(${out} "${paths}" PARENT_SCOPE)
endfunction()

set(command)
read_paths(${rule}/objects1 objects)
foreach(object IN LISTS objects)
    get_filename_component(name "${object}" NAME)
    file(COPY_FILE "${object}" ${kit}/obj/${name})
    string(APPEND command " \\\n    \"obj/${name}\"")
endforeach()

read_paths(${rule}/linkLibs.rsp libraries)
file(TO_CMAKE_PATH "${QT_PREFIX}" qt)
foreach(library IN LISTS libraries)
    get_filename_component(name "${library}" NAME)
    if(library MATCHES "^-")
        string(APPEND command " ${library}")
    elseif(library MATCHES "^${qt}/+(.*)$")
        string(REGEX REPLACE "//+" "/" relative "${CMAKE_MATCH_1}")
        string(APPEND command " \\\n    \"$QT/${relative}\"")
    elseif(library MATCHES "^/usr/x86_64-w64-mingw32/lib/")
        # Named by path as in the original link, not by -l: the linker
        # orders the import tables by the name it was given.
        string(APPEND command " \\\n    \"$MINGW_LIB/${name}\"")
    else()
        # The launcher's library and the other archives built for it.
        if(NOT EXISTS ${kit}/lib/${name})
            file(COPY_FILE "${library}" ${kit}/lib/${name})
        endif()
        string(APPEND command " \\\n    \"lib/${name}\"")
    endif()
endforeach()

# The link's own options: those between the compiler and the objects,
# without the import library CMake asks of every MinGW executable.
file(STRINGS ${rule}/link.txt lines REGEX "--whole-archive")
if(NOT lines MATCHES "^[^ ]+ (.*) -Wl,--whole-archive")
    message(FATAL_ERROR "no link command in ${rule}/link.txt")
endif()
set(options "${CMAKE_MATCH_1}")

file(WRITE ${kit}/relink.sh "#!/bin/sh
# Links \"Zorvan Lumeth.exe\" from this kit and the static Qt 5.15 whose
# prefix (holding lib/ and plugins/) is \$QT; see README.txt.
#   QT=/path/to/qt [CXX=x86_64-w64-mingw32-g++-posix] [MINGW_LIB=DIR] sh relink.sh
set -e
cd \"$(dirname \"$0\")\"
: \"\${QT:?name the Qt to link against in QT}\"
MINGW_LIB=\${MINGW_LIB:-/usr/x86_64-w64-mingw32/lib}
\"\${CXX:-x86_64-w64-mingw32-g++-posix}\" ${options} -o \"Zorvan Lumeth.exe\"${command}
")
file(COPY_FILE "${README}" ${kit}/README.txt)
file(ARCHIVE_CREATE OUTPUT "Zorvan Lumeth relink kit.zip" PATHS ${kit} FORMAT zip)
message(STATUS "Relink kit: ${kit}/ and \"Zorvan Lumeth relink kit.zip\"")
