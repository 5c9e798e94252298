# Signs the packaged programs with Authenticode (osslsigncode) when the publisher gives a
# code-signing certificate in the environment of `cpack`; it is never in the build's cache or
# the repository:
#   BRINEMARCH_SIGN_PKCS12         the certificate with its private key (PKCS#12 file)
#   BRINEMARCH_SIGN_PASSWORD       its password
#   BRINEMARCH_SIGN_TIMESTAMP_URL  a time-stamp authority (optional): the signature stays valid
#                                  after the certificate expires
# Runs as install code, after the programs are installed (and stripped) in cpack's staging
# folder. BM_SIGN_PROGRAMS: the programs below the install prefix; BM_SIGN_WORK: a folder of
# the build for the password file, which lives only while osslsigncode runs.
set(_bm_pkcs12 "$ENV{BRINEMARCH_SIGN_PKCS12}")
if(_bm_pkcs12 STREQUAL "")
  return()
endif()
find_program(_bm_osslsigncode osslsigncode)
if(NOT _bm_osslsigncode)
  message(FATAL_ERROR "BRINEMARCH_SIGN_PKCS12 is set but osslsigncode is not installed (apt-get install osslsigncode)")
endif()
set(_bm_timestamp "")
if(NOT "$ENV{BRINEMARCH_SIGN_TIMESTAMP_URL}" STREQUAL "")
  set(_bm_timestamp -ts "$ENV{BRINEMARCH_SIGN_TIMESTAMP_URL}")
endif()
# The password goes through a file readable by us alone, not the command line others can read.
set(_bm_password ${BM_SIGN_WORK}/.sign-password)
file(REMOVE ${_bm_password})
file(TOUCH ${_bm_password})
file(CHMOD ${_bm_password} PERMISSIONS OWNER_READ OWNER_WRITE)
file(WRITE ${_bm_password} "$ENV{BRINEMARCH_SIGN_PASSWORD}")
foreach(_bm_program IN LISTS BM_SIGN_PROGRAMS)
  set(_bm_path "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${_bm_program}")
  execute_process(COMMAND ${_bm_osslsigncode} sign -pkcs12 ${_bm_pkcs12} -readpass ${_bm_password} -h sha256
                          -n "Brinemarch Downloader" ${_bm_timestamp} -in ${_bm_path} -out ${_bm_path}.signed
                  RESULT_VARIABLE _bm_result OUTPUT_VARIABLE _bm_output ERROR_VARIABLE _bm_output)
  if(NOT _bm_result EQUAL 0)
    file(REMOVE ${_bm_password} ${_bm_path}.signed)
    message(FATAL_ERROR "Signing ${_bm_program} failed:\n${_bm_output}")
  endif()
  file(RENAME ${_bm_path}.signed ${_bm_path})
  message(STATUS "Signed ${_bm_program}")
endforeach()
file(REMOVE ${_bm_password})
