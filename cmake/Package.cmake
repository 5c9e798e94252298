# The release package players unpack: the program with the engine and its settings beside
# it (the program looks for them in its own folder), the engine's licence with its complete
# source and how it was built (the engine is GPL-2.0 and shipped unmodified), and a short
# README. `cpack` in the build folder writes BrinemarchDownloader-<version>-win64.zip, with
# the programs signed when a code-signing certificate is given (cmake/SignPrograms.cmake).

if(TARGET BrinemarchDownloader)
  install(TARGETS BrinemarchDownloader RUNTIME DESTINATION .)
endif()
# Installed from where the build places them, so the package holds what the tests ran.
install(PROGRAMS ${BM_ENGINE_EXE} DESTINATION .)
install(FILES ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/aria2.conf DESTINATION .)
# The engine's (empty) session file, which it is told to read at every start: the program
# empties it where it can write, but a copy of the archive on a read-only medium or in a
# protected folder cannot make it, and the engine does not start without it.
file(WRITE ${CMAKE_BINARY_DIR}/package/aria2.session "")
install(FILES ${CMAKE_BINARY_DIR}/package/aria2.session DESTINATION .)
install(FILES ${BM_ARIA2_DIR}/COPYING ${BM_ARIA2_DIR}/SOURCE ${BM_ARIA2_DIR}/BUILD
              ${BM_ARIA2_DIR}/aria2_1.36.0.orig.tar.gz DESTINATION licenses/aria2)
install(FILES ${CMAKE_SOURCE_DIR}/docs/players/README.txt DESTINATION .)
# Last: the programs are signed as they go into the package (cmake/SignPrograms.cmake).
install(CODE "set(BM_SIGN_PROGRAMS BrinemarchDownloader.exe aria2c.exe)
set(BM_SIGN_WORK \"${CMAKE_BINARY_DIR}\")
include(\"${CMAKE_SOURCE_DIR}/cmake/SignPrograms.cmake\")")

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME BrinemarchDownloader)
set(CPACK_PACKAGE_VENDOR "Brinemarch")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Downloader of the Brinemarch game client")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME BrinemarchDownloader-${PROJECT_VERSION}-win64)
# One folder inside the ZIP, so unpacking never scatters files into the player's folder.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
