# Whoever answers the share, the listing or a download decides what the program fetches and
# later starts, so those addresses are https:// (checked certificates) except on this
# machine's loopback, where the default build meets the drive emulator over plain HTTP.
# The IP-echo page is not among them: its answer only fills an engine option. The Lanzou
# constants are host names that the program always puts behind https://.
#
# Included by BuildConstants.cmake; also runs on its own for the tests:
#   cmake -DBRINEMARCH_LIST_ORIGIN=http://drive.example -P cmake/ReleaseAddresses.cmake

set(BM_RELEASE_ADDRESS_CONSTANTS SHARE_URL LIST_ORIGIN DOWNLOAD_ORIGIN)

# Fails the configuration, naming every constant among the defined ones whose address is
# neither https:// nor http:// on 127.x.x.x, localhost or [::1].
function(bm_check_release_addresses)
  set(problems "")
  foreach(name IN LISTS BM_RELEASE_ADDRESS_CONSTANTS)
    if(NOT DEFINED BRINEMARCH_${name})
      continue()
    endif()
    set(value "${BRINEMARCH_${name}}")
    if(value MATCHES "^[Hh][Tt][Tt][Pp][Ss]://")
      continue()
    endif()
    if(value MATCHES "^[Hh][Tt][Tt][Pp]://([^/?#]*)")
      # The host is what follows any user information, with or without a port.
      string(REGEX REPLACE "^.*@" "" host "${CMAKE_MATCH_1}")
      string(TOLOWER "${host}" host)
      if(host MATCHES "^(localhost|127\\.[0-9]+\\.[0-9]+\\.[0-9]+|\\[::1\\])(:[0-9]+)?$")
        continue()
      endif()
      string(APPEND problems "\n  BRINEMARCH_${name} = \"${value}\": plain http:// on a host other than the loopback")
    else()
      string(APPEND problems "\n  BRINEMARCH_${name} = \"${value}\": not an https:// address")
    endif()
  endforeach()
  if(problems)
    message(FATAL_ERROR "A release reaches the drives over https:// only (plain http:// is for the loopback emulator):"
                        "${problems}")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  bm_check_release_addresses()
endif()
