# Windows: the launcher is a GUI-subsystem program entering through Qt's
# WinMain (which splits the wide command line and calls main), named
# "Zorvan Lumeth.exe", with its icon, version information and manifest as
# resources. Qt and the C++ runtime are linked statically, so the launcher
# is one self-contained file: exactly what replacing its own executable
# replaces.

add_link_options(-static)

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
    set_target_properties(${target} PROPERTIES OUTPUT_NAME "Zorvan Lumeth")
endfunction()

# A release launcher carries no symbols: it is downloaded by every player.
add_link_options($<$<CONFIG:Release>:-s>)
include(${CMAKE_CURRENT_LIST_DIR}/installer.cmake)
