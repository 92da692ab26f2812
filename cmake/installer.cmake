# The per-user installer, "Zorvan Lumeth Setup.exe" in the build directory:
# NSIS packs the launcher and its French catalogue (target `installer`).
# The script, tools/windows/installer.nsi, says what it installs and what
# its uninstaller leaves.

find_program(ZORVAN_MAKENSIS makensis)
if(NOT ZORVAN_MAKENSIS)
    message(STATUS "makensis not found: no installer target (apt-get install nsis)")
    return()
endif()

set(ZORVAN_SETUP "${CMAKE_BINARY_DIR}/Zorvan Lumeth Setup.exe")
set(ZORVAN_SETUP_SCRIPT "${PROJECT_SOURCE_DIR}/tools/windows/installer.nsi")
set(ZORVAN_SETUP_CATALOGUE "${CMAKE_BINARY_DIR}/zorvanlauncher_fr.qm")
add_custom_command(OUTPUT "${ZORVAN_SETUP}"
    COMMAND "${ZORVAN_MAKENSIS}" -V2 -WX -INPUTCHARSET UTF8
        "-DLAUNCHER=$<TARGET_FILE:zorvan-launcher>"
        "-DCATALOGUE=${ZORVAN_SETUP_CATALOGUE}"
        "-DICON=${PROJECT_SOURCE_DIR}/resources/icon.ico"
        "-DVERSION=${PROJECT_VERSION}"
        "-DOUTFILE=${ZORVAN_SETUP}"
        "${ZORVAN_SETUP_SCRIPT}"
    DEPENDS zorvan-launcher "$<TARGET_FILE:zorvan-launcher>" "${ZORVAN_SETUP_CATALOGUE}" "${ZORVAN_SETUP_SCRIPT}"
        "${PROJECT_SOURCE_DIR}/resources/icon.ico"
    COMMENT "Packing Zorvan Lumeth Setup.exe"
    VERBATIM)
add_custom_target(installer DEPENDS "${ZORVAN_SETUP}")
# The catalogue's rule lives in the top directory, defined after this file.
add_dependencies(installer translations)
