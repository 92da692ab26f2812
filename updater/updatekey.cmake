# Writes the source that compiles a studio's Ed25519 public keys into a
# launcher build. Used at configure time (include) and, for the tests'
# throwaway keys, at build time (cmake -P). Several keys are allowed so
# that a launcher can carry the next key before the studio switches to it.
#
#   ZORVAN_KEY_HEX   keys as 64 hexadecimal digits each, separated by ";",
#                    "," or blanks; empty for none
#   ZORVAN_KEY_FILE  and/or files holding keys (as zorvan-publish writes
#                    KEY.pub), a ";"-separated list
#   ZORVAN_KEY_OUT   the source to write
#   ZORVAN_KEY_MIN_SEQUENCE  the lowest publication sequence number the
#                    build accepts (a fresh installation included); 0 or
#                    empty for any
set(zorvan_key_text "${ZORVAN_KEY_HEX}")
foreach(zorvan_key_file IN LISTS ZORVAN_KEY_FILE)
    if(NOT EXISTS "${zorvan_key_file}")
        message(FATAL_ERROR "update public key file not found: ${zorvan_key_file}")
    endif()
    file(READ "${zorvan_key_file}" zorvan_key_content)
    string(APPEND zorvan_key_text " ${zorvan_key_content}")
    if(NOT CMAKE_SCRIPT_MODE_FILE)
        # A new key in the same file reconfigures the build.
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${zorvan_key_file}")
    endif()
endforeach()
string(REGEX REPLACE "[;, \t\r\n]+" ";" zorvan_keys "${zorvan_key_text}")
set(zorvan_key_list "")
foreach(zorvan_key IN LISTS zorvan_keys)
    if(zorvan_key STREQUAL "")
        continue()
    endif()
    string(TOLOWER "${zorvan_key}" zorvan_key)
    if(NOT zorvan_key MATCHES "^[0-9a-f]+$")
        message(FATAL_ERROR "an update public key is not hexadecimal: \"${zorvan_key}\"")
    endif()
    string(LENGTH "${zorvan_key}" zorvan_key_length)
    if(NOT zorvan_key_length EQUAL 64)
        message(FATAL_ERROR "an update public key has ${zorvan_key_length} hexadecimal digits instead of 64")
    endif()
    list(APPEND zorvan_key_list "${zorvan_key}")
endforeach()
string(REPLACE ";" "," ZORVAN_KEYS_HEX "${zorvan_key_list}")
set(ZORVAN_MIN_SEQUENCE "${ZORVAN_KEY_MIN_SEQUENCE}")
if(ZORVAN_MIN_SEQUENCE STREQUAL "")
    set(ZORVAN_MIN_SEQUENCE 0)
endif()
if(NOT ZORVAN_MIN_SEQUENCE MATCHES "^[0-9]+$" OR ZORVAN_MIN_SEQUENCE MATCHES "^.{19,}$")
    message(FATAL_ERROR "the lowest accepted publication is not a number of up to 18 digits: \"${ZORVAN_MIN_SEQUENCE}\"")
endif()
configure_file("${CMAKE_CURRENT_LIST_DIR}/updatekey.cpp.in" "${ZORVAN_KEY_OUT}" @ONLY)
