# The engine as a library for callers that compare without starting a process: a C interface
# (include/filterspace/filterspace.h), shared and static, with a CMake package and a pkg-config
# file. Only the interface is exported. The commands keep linking the engine statically.
# Installed by component only (cmake --install BUILD --component library, then development), so
# that the commands' installation and package stay as they are.
set(filterspace_abi_version 1)  # the SONAME's: raised when the interface changes incompatibly

# The header's version must be the project's.
file(STRINGS include/filterspace/filterspace.h header_version REGEX "#define FILTERSPACE_VERSION \"")
if(NOT header_version MATCHES "\"${PROJECT_VERSION}\"")
  message(FATAL_ERROR "include/filterspace/filterspace.h: ${header_version}, the project is ${PROJECT_VERSION}")
endif()

add_library(filterspace_objects OBJECT ${engine_sources} src/library/filterspace.cpp)
target_include_directories(filterspace_objects PRIVATE src/engine PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>)
set_target_properties(filterspace_objects PROPERTIES POSITION_INDEPENDENT_CODE ON CXX_VISIBILITY_PRESET hidden
                                                     VISIBILITY_INLINES_HIDDEN ON)
target_compile_options(filterspace_objects PRIVATE ${lean_options})

add_library(filterspace SHARED $<TARGET_OBJECTS:filterspace_objects>)
set_target_properties(filterspace PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${filterspace_abi_version})
add_library(filterspace_static STATIC $<TARGET_OBJECTS:filterspace_objects>)
set_target_properties(filterspace_static PROPERTIES OUTPUT_NAME filterspace)
foreach(library filterspace filterspace_static)
  target_include_directories(${library} PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
                                               $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
endforeach()
add_library(filterspace::filterspace ALIAS filterspace)
add_library(filterspace::filterspace_static ALIAS filterspace_static)

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
install(TARGETS filterspace EXPORT filterspace_targets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        COMPONENT library NAMELINK_COMPONENT development EXCLUDE_FROM_ALL)
install(TARGETS filterspace_static EXPORT filterspace_targets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        COMPONENT development EXCLUDE_FROM_ALL)
install(FILES include/filterspace/filterspace.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/filterspace
        COMPONENT development EXCLUDE_FROM_ALL)
set(filterspace_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/filterspace)
install(EXPORT filterspace_targets NAMESPACE filterspace:: DESTINATION ${filterspace_cmake_dir}
        COMPONENT development EXCLUDE_FROM_ALL)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/filterspaceConfig.cmake
     "include(\${CMAKE_CURRENT_LIST_DIR}/filterspace_targets.cmake)\n")
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/filterspaceConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/filterspaceConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/filterspaceConfigVersion.cmake
        DESTINATION ${filterspace_cmake_dir} COMPONENT development EXCLUDE_FROM_ALL)
configure_file(cmake/filterspace.pc.in filterspace.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/filterspace.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT development EXCLUDE_FROM_ALL)
