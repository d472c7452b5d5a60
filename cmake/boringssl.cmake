# BoringSSL from Debian's android-libboringssl-dev: headers under
# /usr/include/android, libraries under /usr/lib/<multiarch triplet>/android.
# OpenSSL's headers may be on the machine as well; BoringSSL's must win, so
# a machine without BoringSSL stops the configuration here instead of
# compiling against the wrong headers.
if(NOT TORVANE_WITH_TLS)
  return()
endif()

set(TORVANE_MULTIARCH "${CMAKE_LIBRARY_ARCHITECTURE}")
if(NOT TORVANE_MULTIARCH)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-multiarch
                  OUTPUT_VARIABLE TORVANE_MULTIARCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()

set(BORINGSSL_INCLUDE_DIR /usr/include/android)
set(BORINGSSL_LIB_DIR /usr/lib/${TORVANE_MULTIARCH}/android)
foreach(required ${BORINGSSL_INCLUDE_DIR}/openssl/ssl.h ${BORINGSSL_LIB_DIR}/libssl.so ${BORINGSSL_LIB_DIR}/libcrypto.so)
  if(NOT EXISTS ${required})
    message(FATAL_ERROR
      "BoringSSL is missing: ${required} does not exist.\n"
      "Install Debian's package android-libboringssl-dev (scripts/setup.sh does), "
      "or build for Windows, which needs no TLS library.")
  endif()
endforeach()

add_library(boringssl INTERFACE)
# BEFORE keeps BoringSSL's headers ahead of OpenSSL's in /usr/include.
target_include_directories(boringssl BEFORE INTERFACE ${BORINGSSL_INCLUDE_DIR})
target_link_libraries(boringssl INTERFACE ${BORINGSSL_LIB_DIR}/libssl.so ${BORINGSSL_LIB_DIR}/libcrypto.so)
target_link_options(boringssl INTERFACE "-Wl,-rpath,${BORINGSSL_LIB_DIR}")
target_compile_definitions(boringssl INTERFACE TORVANE_WITH_TLS=1)
