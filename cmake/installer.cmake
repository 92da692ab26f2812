# The per-user installer, "Zorvan Lumeth Setup.exe" in the build directory:
# NSIS packs the launcher, its French catalogue and the licences of what is
# linked into it (target `installer`). The script,
# tools/windows/installer.nsi, says what it installs and what its
# uninstaller leaves.

# Where the studio offers Qt's source and the relink kit; the licence notice
# the installer shows and installs names it.
set(ZORVAN_SOURCE_OFFER "http://zorvanlumeth.com/" CACHE STRING
    "Where players find the launcher's Qt source and relink kit (named in the licence notice)")

# The licence texts, from this machine's Debian packages of the same sources
# (their copyright files), and the notice that lists what the launcher
# contains.
set(ZORVAN_LICENCES "${CMAKE_BINARY_DIR}/licences")
set(ZORVAN_PUBLISHER "Team Quillon")
configure_file(${PROJECT_SOURCE_DIR}/tools/windows/licences.txt.in ${ZORVAN_LICENCES}/README.txt @ONLY NEWLINE_STYLE CRLF)
set(ZORVAN_LICENCE_SOURCES
    LGPL-3.txt /usr/share/common-licenses/LGPL-3 base-files
    GPL-3.txt /usr/share/common-licenses/GPL-3 base-files
    Qt.txt /usr/share/doc/libqt5core5a/copyright libqt5core5a
    tinyxml2.txt /usr/share/doc/libtinyxml2-dev/copyright libtinyxml2-dev
    libsodium.txt /usr/share/doc/libsodium-dev/copyright libsodium-dev
    MinGW-w64.txt /usr/share/doc/mingw-w64-x86-64-dev/copyright mingw-w64-x86-64-dev
    GCC.txt /usr/share/doc/gcc-mingw-w64-x86-64-posix/copyright gcc-mingw-w64-x86-64-posix)
set(ZORVAN_LICENCE_FILES ${ZORVAN_LICENCES}/README.txt)
while(ZORVAN_LICENCE_SOURCES)
    list(POP_FRONT ZORVAN_LICENCE_SOURCES name source package)
    if(NOT EXISTS ${source})
        message(FATAL_ERROR "${source} is missing: apt-get install ${package}")
    endif()
    configure_file(${source} ${ZORVAN_LICENCES}/${name} COPYONLY)
    list(APPEND ZORVAN_LICENCE_FILES ${ZORVAN_LICENCES}/${name})
endwhile()

find_program(ZORVAN_MAKENSIS makensis)
if(NOT ZORVAN_MAKENSIS)
    message(STATUS "makensis not found: no installer target (apt-get install nsis)")
    return()
endif()

# What the installer packs besides the launcher; tools/windows/signcheck.sh
# packs a signed launcher with the same inputs.
set(ZORVAN_SETUP_INPUTS "${CMAKE_BINARY_DIR}/installer-inputs.nsh")
set(ZORVAN_SETUP_CATALOGUE "${CMAKE_BINARY_DIR}/zorvanlauncher_fr.qm")
file(CONFIGURE OUTPUT "${ZORVAN_SETUP_INPUTS}" CONTENT [[
!define CATALOGUE "${ZORVAN_SETUP_CATALOGUE}"
!define ICON "${PROJECT_SOURCE_DIR}/resources/icon.ico"
!define VERSION "${PROJECT_VERSION}"
!define LICENCES "${ZORVAN_LICENCES}"
]])

set(ZORVAN_SETUP "${CMAKE_BINARY_DIR}/Zorvan Lumeth Setup.exe")
set(ZORVAN_SETUP_SCRIPT "${PROJECT_SOURCE_DIR}/tools/windows/installer.nsi")
set(ZORVAN_SETUP_SIGN)
if(ZORVAN_SIGN_PKCS12)
    set(ZORVAN_SETUP_SIGN "-DSIGN=${ZORVAN_SIGN_SCRIPT}")
endif()
add_custom_command(OUTPUT "${ZORVAN_SETUP}"
    COMMAND ${ZORVAN_SIGN_ENV} "${ZORVAN_MAKENSIS}" -V2 -WX -INPUTCHARSET UTF8
        "-DINPUTS=${ZORVAN_SETUP_INPUTS}"
        "-DLAUNCHER=$<TARGET_FILE:zorvan-launcher>"
        "-DOUTFILE=${ZORVAN_SETUP}"
        ${ZORVAN_SETUP_SIGN}
        "${ZORVAN_SETUP_SCRIPT}"
    DEPENDS zorvan-launcher "$<TARGET_FILE:zorvan-launcher>" "${ZORVAN_SETUP_CATALOGUE}" "${ZORVAN_SETUP_SCRIPT}"
        "${ZORVAN_SETUP_INPUTS}" ${ZORVAN_LICENCE_FILES} "${PROJECT_SOURCE_DIR}/resources/icon.ico"
    COMMENT "Packing Zorvan Lumeth Setup.exe"
    VERBATIM)
add_custom_target(installer DEPENDS "${ZORVAN_SETUP}")
# The catalogue's rule lives in the top directory, defined after this file.
add_dependencies(installer translations)
