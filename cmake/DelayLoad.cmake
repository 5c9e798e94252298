# Import libraries that load their DLL at its first call instead of at the program's start.
# The Windows loader looks for a DLL the program imports directly in the program's own folder
# first, unless the system protects it (a "known DLL"); players start the downloader from a
# Downloads folder, where any page can drop a winmm.dll. A delay-loaded DLL is loaded through
# LoadLibrary once the program runs, and the program (main.cpp) limits that to the system
# folder before anything else. bm_delay_import(winhttp) makes the target delayed::winhttp,
# which a library names in its DEPS instead of winhttp.

find_program(BM_DLLTOOL NAMES ${BM_MINGW}-dlltool REQUIRED)
find_program(BM_NM NAMES ${BM_MINGW}-nm REQUIRED)

function(bm_delay_import dll)
  find_library(_import NAMES lib${dll}.a NO_CACHE REQUIRED)
  # Every function the ordinary import library names, as the DLL's exports.
  execute_process(COMMAND ${BM_NM} -g ${_import} OUTPUT_VARIABLE _symbols COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL "__imp_[A-Za-z0-9_]+" _imports "${_symbols}")
  list(REMOVE_DUPLICATES _imports)
  list(TRANSFORM _imports REPLACE "^__imp_" "")
  list(JOIN _imports "\n" _exports)
  set(_dir ${CMAKE_BINARY_DIR}/delay_imports)
  file(MAKE_DIRECTORY ${_dir})
  file(WRITE ${_dir}/${dll}.def "LIBRARY ${dll}.dll\nEXPORTS\n${_exports}\n")
  execute_process(COMMAND ${BM_DLLTOOL} --def ${_dir}/${dll}.def --dllname ${dll}.dll
                          --output-delaylib ${_dir}/lib${dll}_delay.a COMMAND_ERROR_IS_FATAL ANY)
  add_library(delayed::${dll} STATIC IMPORTED GLOBAL)
  set_target_properties(delayed::${dll} PROPERTIES IMPORTED_LOCATION ${_dir}/lib${dll}_delay.a)
endfunction()

foreach(dll IN ITEMS winhttp winmm msimg32 bcrypt gdiplus)
  bm_delay_import(${dll})
endforeach()
