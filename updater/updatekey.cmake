# Writes the source that compiles a studio's Ed25519 public key into a
# launcher build. Used at configure time (include) and, for the tests'
# throwaway key, at build time (cmake -P).
#
#   ZORVAN_KEY_HEX   the key as 64 hexadecimal digits, or empty for none
#   ZORVAN_KEY_FILE  or a file holding it (as zorvan-publish writes KEY.pub)
#   ZORVAN_KEY_OUT   the source to write
if(ZORVAN_KEY_FILE)
    if(NOT EXISTS "${ZORVAN_KEY_FILE}")
        message(FATAL_ERROR "update public key file not found: ${ZORVAN_KEY_FILE}")
    endif()
    file(READ "${ZORVAN_KEY_FILE}" ZORVAN_KEY_HEX)
    if(NOT CMAKE_SCRIPT_MODE_FILE)
        # A new key in the same file reconfigures the build.
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${ZORVAN_KEY_FILE}")
    endif()
endif()
string(STRIP "${ZORVAN_KEY_HEX}" ZORVAN_KEY_HEX)
string(TOLOWER "${ZORVAN_KEY_HEX}" ZORVAN_KEY_HEX)
if(NOT ZORVAN_KEY_HEX STREQUAL "" AND NOT ZORVAN_KEY_HEX MATCHES "^[0-9a-f]+$")
    message(FATAL_ERROR "the update public key is not hexadecimal: \"${ZORVAN_KEY_HEX}\"")
endif()
string(LENGTH "${ZORVAN_KEY_HEX}" zorvan_key_length)
if(NOT zorvan_key_length EQUAL 0 AND NOT zorvan_key_length EQUAL 64)
    message(FATAL_ERROR "the update public key has ${zorvan_key_length} hexadecimal digits instead of 64")
endif()
configure_file("${CMAKE_CURRENT_LIST_DIR}/updatekey.cpp.in" "${ZORVAN_KEY_OUT}" @ONLY)
