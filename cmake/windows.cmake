# Windows: the launcher is a GUI-subsystem program entering through Qt's
# WinMain (which splits the wide command line and calls main), named
# "Zorvan Lumeth.exe", with its icon, version information and manifest as
# resources. Qt and the C++ runtime are linked statically, so the launcher
# is one self-contained file: exactly what replacing its own executable
# replaces.

add_link_options(-static)

# The same commit gives the same executable wherever it is built: no link
# time in the PE header (the header's checksum then stays the same too), no
# source or build directory in the code (__FILE__; the last matching map
# applies, and the build directory may lie in the source tree), and no file
# times in the compiled resources (rcc's format 1 has none).
add_link_options(-Wl,--no-insert-timestamp)
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=;-ffile-prefix-map=${CMAKE_BINARY_DIR}/=>")
set(CMAKE_AUTORCC_OPTIONS --format-version 1)

# Authenticode signing with a studio's certificate (tools/windows.sh sets
# these from ZORVAN_SIGN_PKCS12 and ZORVAN_SIGN_TIMESTAMP_URL): the launcher
# once linked, its uninstaller and installer as NSIS writes them. The
# password never enters the cache: tools/sign-windows.sh reads
# ZORVAN_SIGN_PASSWORD_FILE or ZORVAN_SIGN_PASSWORD from the build's
# environment. Without a certificate nothing is signed.
set(ZORVAN_SIGN_PKCS12 "" CACHE FILEPATH "Studio's Authenticode certificate and key (PKCS#12); empty: unsigned")
set(ZORVAN_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 timestamp server for the signatures; empty: none")
set(ZORVAN_SIGN_SCRIPT ${PROJECT_SOURCE_DIR}/tools/sign-windows.sh)
set(ZORVAN_SIGN_ENV)
if(ZORVAN_SIGN_PKCS12)
    set(ZORVAN_SIGN_ENV ${CMAKE_COMMAND} -E env "ZORVAN_SIGN_PKCS12=${ZORVAN_SIGN_PKCS12}"
        "ZORVAN_SIGN_TIMESTAMP_URL=${ZORVAN_SIGN_TIMESTAMP_URL}")
endif()

# A static Qt finds its plug-ins only when they are imported into the
# executable. Qt's CMake package compiles an import file into every
# executable that links a Qt module, for each plug-in the target's
# QT_PLUGINS properties allow (by default all of them); the ones the
# launcher cannot do without are named here so that they are linked
# whatever those defaults become: the native platform, the offscreen one
# for tests and machines without a desktop, the .ico reader of the window
# icon, and the native widget style.
add_library(zorvanqtplugins INTERFACE)
target_link_libraries(zorvanqtplugins INTERFACE
    Qt5::QWindowsIntegrationPlugin Qt5::QOffscreenIntegrationPlugin Qt5::QICOPlugin Qt5::QWindowsVistaStylePlugin)

function(zorvan_windows_launcher target)
    set(ZORVAN_ICON ${PROJECT_SOURCE_DIR}/resources/icon.ico)
    set(ZORVAN_MANIFEST ${PROJECT_SOURCE_DIR}/platform/windows/launcher.manifest)
    configure_file(${PROJECT_SOURCE_DIR}/platform/windows/launcher.rc.in ${CMAKE_CURRENT_BINARY_DIR}/launcher.rc @ONLY)
    # The resource compiler's inclusions are not scanned: a changed manifest or icon must rebuild it.
    set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/launcher.rc PROPERTIES OBJECT_DEPENDS "${ZORVAN_ICON};${ZORVAN_MANIFEST}")
    target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/launcher.rc)
    # The resource compiler reads both, but CMake's scan of the .rc file
    # sees only its #include lines: without this a new icon never reached
    # an existing build.
    set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/launcher.rc PROPERTIES OBJECT_DEPENDS "${ZORVAN_ICON};${ZORVAN_MANIFEST}")
    set_target_properties(${target} PROPERTIES OUTPUT_NAME "Zorvan Lumeth")
    if(ZORVAN_SIGN_PKCS12)
        add_custom_command(TARGET ${target} POST_BUILD
            COMMAND ${ZORVAN_SIGN_ENV} bash ${ZORVAN_SIGN_SCRIPT} $<TARGET_FILE:${target}>
            VERBATIM)
    endif()
endfunction()

# The relink kit, "Zorvan Lumeth relink kit.zip" in the build directory:
# the launcher's own code as it was linked and its link command, so that a
# player can link it against another Qt 5.15, as the LGPL asks of a program
# that links Qt statically (cmake/relinkkit.cmake). Not part of `all`.
get_filename_component(ZORVAN_QT_PREFIX "${Qt5_DIR}/../../.." ABSOLUTE)
add_custom_target(relink-kit
    COMMAND ${CMAKE_COMMAND} -DQT_PREFIX=${ZORVAN_QT_PREFIX} -DREADME=${PROJECT_SOURCE_DIR}/tools/windows/relink-kit.txt
        -P ${CMAKE_CURRENT_LIST_DIR}/relinkkit.cmake
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    COMMENT "Packing the relink kit"
    VERBATIM)
add_dependencies(relink-kit zorvan-launcher)

# A release launcher carries no symbols: it is downloaded by every player.
add_link_options($<$<CONFIG:Release>:-s>)
include(${CMAKE_CURRENT_LIST_DIR}/installer.cmake)
