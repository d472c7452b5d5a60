# The built-in configuration of the launcher: where the update server is.
#
#   TORVANE_UPDATE_HOST      host name or address of the update server (port 80)
#   TORVANE_UPDATE_ROOT      path of the files on the server
#   TORVANE_UPDATE_MANIFEST  name of the remote manifest under that path
#   TORVANE_CONFIG_KEY       32 hex digits of key material; empty: random,
#                            made once per build directory
#
# The build enciphers the three values under the key material into the
# configuration block (launcher/configuration_block.h); the program holds
# only that block. A value too long for its field, or a malformed key, stops
# the configuration here.
set(TORVANE_UPDATE_HOST "127.0.0.1" CACHE STRING "Update server host (port 80)")
set(TORVANE_UPDATE_ROOT "/torvane" CACHE STRING "Root path of the files on the update server")
set(TORVANE_UPDATE_MANIFEST "manifest.lst.z" CACHE STRING "Name of the remote manifest")
set(TORVANE_CONFIG_KEY "" CACHE STRING "32 hex digits of key material (random per build directory when empty)")

# Field sizes of the block, the terminating NUL included.
set(TORVANE_HOST_FIELD_LEN 224)
set(TORVANE_ROOT_FIELD_LEN 256)
set(TORVANE_MANIFEST_FIELD_LEN 512)

function(torvane_check_configuration_value variable field_len)
  set(value "${${variable}}")
  string(LENGTH "${value}" length)
  math(EXPR largest "${field_len} - 1")
  if(length EQUAL 0)
    message(FATAL_ERROR "${variable} is empty; the launcher needs it to find its update server.")
  endif()
  if(length GREATER largest)
    message(FATAL_ERROR
      "${variable} is ${length} characters long; its field in the configuration block holds at most ${largest}.")
  endif()
  if(value MATCHES "[\n\r]")
    message(FATAL_ERROR "${variable} holds a line break.")
  endif()
endfunction()

torvane_check_configuration_value(TORVANE_UPDATE_HOST ${TORVANE_HOST_FIELD_LEN})
torvane_check_configuration_value(TORVANE_UPDATE_ROOT ${TORVANE_ROOT_FIELD_LEN})
torvane_check_configuration_value(TORVANE_UPDATE_MANIFEST ${TORVANE_MANIFEST_FIELD_LEN})

set(TORVANE_KEY_FILE ${CMAKE_BINARY_DIR}/torvane_config_key)
if(NOT TORVANE_CONFIG_KEY STREQUAL "")
  if(NOT TORVANE_CONFIG_KEY MATCHES "^[0-9a-fA-F]+$")
    message(FATAL_ERROR "TORVANE_CONFIG_KEY must be 32 hexadecimal digits; '${TORVANE_CONFIG_KEY}' is not.")
  endif()
  string(LENGTH "${TORVANE_CONFIG_KEY}" key_length)
  if(NOT key_length EQUAL 32)
    message(FATAL_ERROR "TORVANE_CONFIG_KEY must be 32 hexadecimal digits; it has ${key_length}.")
  endif()
  set(torvane_key "${TORVANE_CONFIG_KEY}")
else()
  # Made once per build directory, so that a rebuild keeps the block.
  if(NOT EXISTS ${TORVANE_KEY_FILE})
    string(RANDOM LENGTH 32 ALPHABET "0123456789abcdef" random_key)
    file(WRITE ${TORVANE_KEY_FILE} "${random_key}")
  endif()
  file(READ ${TORVANE_KEY_FILE} torvane_key)
  string(STRIP "${torvane_key}" torvane_key)
endif()

# The generator reads the values from a file that changes only when they
# do, so the block is made again exactly then.
set(TORVANE_CONFIGURATION_DIR ${CMAKE_BINARY_DIR}/generated)
set(TORVANE_CONFIGURATION_VALUES ${TORVANE_CONFIGURATION_DIR}/configuration_values.txt)
set(TORVANE_CONFIGURATION_SOURCE ${TORVANE_CONFIGURATION_DIR}/built_in_configuration.cc)
file(CONFIGURE OUTPUT ${TORVANE_CONFIGURATION_VALUES}
     CONTENT "${torvane_key}\n${TORVANE_UPDATE_HOST}\n${TORVANE_UPDATE_ROOT}\n${TORVANE_UPDATE_MANIFEST}\n"
     @ONLY)

if(CMAKE_CROSSCOMPILING)
  # The generator must run here, on the build machine: a separate build of
  # it with the build machine's own compiler.
  include(ExternalProject)
  set(host_tools_dir ${CMAKE_BINARY_DIR}/host-tools)
  set(TORVANE_CONFIG_GENERATOR ${host_tools_dir}/torvane-config-block)
  ExternalProject_Add(torvane_host_tools
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${host_tools_dir}
    CMAKE_ARGS -DTORVANE_HOST_TOOLS_ONLY=ON -DCMAKE_BUILD_TYPE=Release
               -DCMAKE_RUNTIME_OUTPUT_DIRECTORY=${host_tools_dir}
    BUILD_COMMAND ${CMAKE_COMMAND} --build ${host_tools_dir} --target torvane-config-block
    BUILD_BYPRODUCTS ${TORVANE_CONFIG_GENERATOR}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON)
  set(generator_dependency torvane_host_tools)
else()
  include(${CMAKE_SOURCE_DIR}/cmake/configuration_generator.cmake)
  set(TORVANE_CONFIG_GENERATOR $<TARGET_FILE:torvane-config-block>)
  set(generator_dependency torvane-config-block)
endif()

add_custom_command(
  OUTPUT ${TORVANE_CONFIGURATION_SOURCE}
  COMMAND ${TORVANE_CONFIG_GENERATOR} ${TORVANE_CONFIGURATION_VALUES} ${TORVANE_CONFIGURATION_SOURCE}
  DEPENDS ${generator_dependency} ${TORVANE_CONFIGURATION_VALUES}
  COMMENT "Enciphering the built-in configuration"
  VERBATIM)
add_library(torvane_built_in_configuration STATIC ${TORVANE_CONFIGURATION_SOURCE})

# The release key: the public key that signed releases are checked with,
# as 130 hex digits (the uncompressed P-256 point that torvane-publish
# --make-key prints). Empty: the launcher installs releases without
# checking a signature, as launchers always did.
set(TORVANE_RELEASE_KEY "" CACHE STRING "Public key of signed releases (130 hex digits from torvane-publish --make-key)")
set(TORVANE_RELEASE_KEY_SOURCE ${TORVANE_CONFIGURATION_DIR}/built_in_release_key.cc)
if(TORVANE_RELEASE_KEY STREQUAL "")
  set(release_key_definition "const unsigned char *const g_built_in_release_key = nullptr;")
else()
  string(LENGTH "${TORVANE_RELEASE_KEY}" release_key_length)
  if(NOT TORVANE_RELEASE_KEY MATCHES "^04[0-9a-fA-F]+$" OR NOT release_key_length EQUAL 130)
    message(FATAL_ERROR
      "TORVANE_RELEASE_KEY must be the 130 hex digits that torvane-publish --make-key prints "
      "(starting with 04); '${TORVANE_RELEASE_KEY}' is not.")
  endif()
  string(REGEX REPLACE "([0-9a-fA-F][0-9a-fA-F])" "0x\\1," release_key_bytes "${TORVANE_RELEASE_KEY}")
  set(release_key_definition
      "const unsigned char kReleaseKey[LAUNCHER_RELEASE_KEY_LEN] = {${release_key_bytes}};\nconst unsigned char *const g_built_in_release_key = kReleaseKey;")
endif()
file(CONFIGURE OUTPUT ${TORVANE_RELEASE_KEY_SOURCE}
     CONTENT "// Generated by the build from TORVANE_RELEASE_KEY. Do not edit.\n#include \"launcher/release_key.h\"\n\n${release_key_definition}\n"
     @ONLY)
target_sources(torvane_built_in_configuration PRIVATE ${TORVANE_RELEASE_KEY_SOURCE})
