# The engine as a Node-API module (node/): its package, staged with a copy of the engine's and the
# library's sources made here, at build time (never by hand), and packed by npm into
# BUILD/filterspace-VERSION.tgz, which `npm install` builds from source with node-gyp. The
# package's version must be the project's.
file(READ node/package.json node_package_json)
string(REGEX MATCH "\"version\": \"([^\"]+)\"" node_version_line "${node_package_json}")
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "node/package.json: version ${CMAKE_MATCH_1}, the project is ${PROJECT_VERSION}")
endif()

find_program(npm_program npm)
if(NOT npm_program)
  message(STATUS "npm not found: the Node package is not made, and its test skips")
  return()
endif()

set(node_stage ${CMAKE_BINARY_DIR}/node-package)
set(node_tarball ${CMAKE_BINARY_DIR}/filterspace-${PROJECT_VERSION}.tgz)
# binding.gyp's sources: the engine's files for every processor, each set's under its condition.
function(gyp_list variable)
  set(quoted)
  foreach(file ${ARGN})
    if(file MATCHES "\\.cpp$")
      string(REPLACE "src/engine/" "deps/engine/" file ${file})
      list(APPEND quoted "\"${file}\"")
    endif()
  endforeach()
  list(JOIN quoted ", " joined)
  set(${variable} "${joined}" PARENT_SCOPE)
endfunction()
gyp_list(node_common_sources ${engine_first_files} ${engine_last_files})
gyp_list(node_x86_sources ${engine_x86_files})
gyp_list(node_arm64_sources ${engine_arm64_files})
file(WRITE ${CMAKE_BINARY_DIR}/binding.gyp.staged
"{
  \"targets\": [{
    \"target_name\": \"filterspace\",
    \"sources\": [\"src/addon.cpp\", \"deps/library/filterspace.cpp\", ${node_common_sources}],
    \"include_dirs\": [\"deps/include\", \"deps/engine\"],
    \"defines\": [\"NAPI_VERSION=8\"],
    \"conditions\": [
      [\"target_arch=='x64'\", {\"sources\": [${node_x86_sources}]}],
      [\"target_arch=='arm64'\", {\"sources\": [${node_arm64_sources}]}]
    ]
  }]
}
")
set(node_engine_files ${engine_first_files} ${engine_x86_files} ${engine_arm64_files} ${engine_last_files}
    ${engine_included_files})
set(node_package_files node/package.json node/index.js node/index.d.ts node/src/addon.cpp)
add_custom_command(OUTPUT ${node_tarball}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${node_stage}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${node_stage}/src ${node_stage}/deps/engine ${node_stage}/deps/library
          ${node_stage}/deps/include/filterspace
  COMMAND ${CMAKE_COMMAND} -E copy node/package.json node/index.js node/index.d.ts ${node_stage}/
  COMMAND ${CMAKE_COMMAND} -E copy node/src/addon.cpp ${node_stage}/src/
  COMMAND ${CMAKE_COMMAND} -E copy LICENSE ${node_stage}/
  COMMAND ${CMAKE_COMMAND} -E copy doc/node.md ${node_stage}/README.md
  COMMAND ${CMAKE_COMMAND} -E copy ${node_engine_files} ${node_stage}/deps/engine/
  COMMAND ${CMAKE_COMMAND} -E copy src/library/filterspace.cpp ${node_stage}/deps/library/
  COMMAND ${CMAKE_COMMAND} -E copy include/filterspace/filterspace.h ${node_stage}/deps/include/filterspace/
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_BINARY_DIR}/binding.gyp.staged ${node_stage}/binding.gyp
  COMMAND ${npm_program} pack --silent --pack-destination ${CMAKE_BINARY_DIR} ${node_stage}
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
  DEPENDS ${node_package_files} ${node_engine_files} src/library/filterspace.cpp include/filterspace/filterspace.h
          doc/node.md LICENSE ${CMAKE_BINARY_DIR}/binding.gyp.staged
  COMMENT "Packing the Node module (npm pack)"
  VERBATIM)
add_custom_target(node_package ALL DEPENDS ${node_tarball})
