# Third-party code comes only from Debian: GoogleTest's sources, RapidJSON's headers and
# yyjson's sources as the setup step left them in BRINEMARCH_DEPS_DIR, and the engine
# aria2c.exe built there from Debian's aria2 source package.

set(BM_YYJSON_DIR ${BRINEMARCH_DEPS_DIR}/yyjson CACHE PATH "yyjson sources (src/yyjson.c)")
set(BM_RAPIDJSON_INCLUDE ${BRINEMARCH_DEPS_DIR}/rapidjson-include CACHE PATH "Folder holding only rapidjson/")
set(BM_ARIA2_DIR ${BRINEMARCH_DEPS_DIR}/aria2-1.36.0 CACHE PATH "Folder holding aria2c.exe")
set(BM_GTEST_SOURCE /usr/src/googletest CACHE PATH "Debian's GoogleTest sources")

foreach(need ${BM_YYJSON_DIR}/src/yyjson.c ${BM_RAPIDJSON_INCLUDE}/rapidjson/document.h ${BM_GTEST_SOURCE}/CMakeLists.txt)
  if(NOT EXISTS ${need})
    message(FATAL_ERROR "Missing ${need}: run scripts/setup.sh first.")
  endif()
endforeach()

# yyjson: compiled into the build as a C library of its own, without our warning flags.
add_library(yyjson STATIC ${BM_YYJSON_DIR}/src/yyjson.c)
target_include_directories(yyjson SYSTEM PUBLIC ${BM_YYJSON_DIR}/src)

add_library(rapidjson INTERFACE)
target_include_directories(rapidjson SYSTEM INTERFACE ${BM_RAPIDJSON_INCLUDE})

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
add_subdirectory(${BM_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# The engine and its settings live beside the program.
file(MAKE_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
# Copied at build time, so a build configured before the setup finished still gets it.
add_custom_target(engine_binary ALL
  COMMAND sh -c "[ ! -f '${BM_ARIA2_DIR}/aria2c.exe' ] || cmp -s '${BM_ARIA2_DIR}/aria2c.exe' '${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/aria2c.exe' || cp '${BM_ARIA2_DIR}/aria2c.exe' '${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/aria2c.exe'"
  COMMENT "Placing the engine aria2c.exe beside the programs" VERBATIM)
configure_file(${CMAKE_SOURCE_DIR}/resources/aria2.conf ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/aria2.conf COPYONLY)
set(BM_ENGINE_EXE ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/aria2c.exe)
