# Whoever answers the share, the listing or a download decides what the program fetches and
# later starts, so those addresses are https:// (checked certificates) except on this
# machine's loopback, where the default build meets the drive emulator over plain HTTP.
# The IP-echo page is not among them: its answer only fills an engine option. The Lanzou
# constants are host names that the program always puts behind https://.
#
# A release also names the key that signs its manifest (BRINEMARCH_MANIFEST_KEY: the
# publisher's public key, or none): a build left to make its own test key only ever meets
# the loopback, so a release can never carry the test key.
#
# Included by BuildConstants.cmake; also runs on its own for the tests:
#   cmake -DBRINEMARCH_LIST_ORIGIN=http://drive.example -P cmake/ReleaseAddresses.cmake

set(BM_RELEASE_ADDRESS_CONSTANTS SHARE_URL LIST_ORIGIN DOWNLOAD_ORIGIN)

# The base64 of an ECDSA P-256 SubjectPublicKeyInfo in DER (91 bytes, 124 characters): a
# fixed head, then the point.
set(BM_MANIFEST_KEY_PATTERN "^MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAE[A-Za-z0-9+/]+[AQgw]==$")
set(BM_MANIFEST_KEY_LENGTH 124)

# Sets out to TRUE when value is an http:// or https:// address on 127.x.x.x, localhost or
# [::1]; scheme to its scheme in lower case ("" for neither).
function(_bm_address_host value out scheme)
  set(${out} FALSE PARENT_SCOPE)
  set(${scheme} "" PARENT_SCOPE)
  if(value MATCHES "^([Hh][Tt][Tt][Pp][Ss]?)://([^/?#]*)")
    string(TOLOWER "${CMAKE_MATCH_1}" found)
    set(${scheme} "${found}" PARENT_SCOPE)
    # The host is what follows any user information, with or without a port.
    string(REGEX REPLACE "^.*@" "" host "${CMAKE_MATCH_2}")
    string(TOLOWER "${host}" host)
    if(host MATCHES "^(localhost|127\\.[0-9]+\\.[0-9]+\\.[0-9]+|\\[::1\\])(:[0-9]+)?$")
      set(${out} TRUE PARENT_SCOPE)
    endif()
  endif()
endfunction()

# Fails the configuration, naming every constant among the defined ones whose address is
# neither https:// nor http:// on 127.x.x.x, localhost or [::1], and the manifest key when
# an address leaves the loopback without a key named, or the key is not one.
function(bm_check_release_addresses)
  set(problems "")
  set(leaves_loopback FALSE)
  foreach(name IN LISTS BM_RELEASE_ADDRESS_CONSTANTS)
    if(NOT DEFINED BRINEMARCH_${name})
      continue()
    endif()
    set(value "${BRINEMARCH_${name}}")
    _bm_address_host("${value}" loopback scheme)
    if(NOT loopback)
      set(leaves_loopback TRUE)
    endif()
    if(scheme STREQUAL "https" OR loopback)
      continue()
    elseif(scheme STREQUAL "http")
      string(APPEND problems "\n  BRINEMARCH_${name} = \"${value}\": plain http:// on a host other than the loopback")
    else()
      string(APPEND problems "\n  BRINEMARCH_${name} = \"${value}\": not an https:// address")
    endif()
  endforeach()
  if(problems)
    message(FATAL_ERROR "A release reaches the drives over https:// only (plain http:// is for the loopback emulator):"
                        "${problems}")
  endif()
  set(key "${BRINEMARCH_MANIFEST_KEY}")
  if(key STREQUAL "" AND leaves_loopback)
    message(FATAL_ERROR "A build that reaches a drive beyond the loopback names the key that signs its release "
                        "manifest: BRINEMARCH_MANIFEST_KEY = the publisher's public key (scripts/manifest-key.sh "
                        "prints it), or none for a build that checks nothing.")
  endif()
  string(LENGTH "${key}" key_length)
  if(NOT key STREQUAL "" AND NOT key STREQUAL "none"
     AND (NOT key MATCHES "${BM_MANIFEST_KEY_PATTERN}" OR NOT key_length EQUAL BM_MANIFEST_KEY_LENGTH))
    message(FATAL_ERROR "BRINEMARCH_MANIFEST_KEY = \"${key}\" is not an ECDSA P-256 public key in base64 DER "
                        "(as `openssl pkey -pubout -outform DER | base64 -w0` prints it), nor none.")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  bm_check_release_addresses()
endif()
