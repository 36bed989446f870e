# The engine as a library for callers that compare without starting a process: a C interface
# (include/filterspace/filterspace.h), shared and static, with a CMake package and a pkg-config
# file. Only the interface is exported. The commands keep linking the engine statically.
# Installed by component only (cmake --install BUILD --component library, then development), so
# that the commands' installation and package stay as they are.
include(GNUInstallDirs)
set(filterspace_abi_version 1)  # the SONAME's: raised when the interface changes incompatibly
# Debian's multiarch directory where the toolchain has one (lib/x86_64-linux-gnu), as its
# packages and pkg-config for cross builds expect.
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(filterspace_libdir lib/${CMAKE_LIBRARY_ARCHITECTURE})
else()
  set(filterspace_libdir ${CMAKE_INSTALL_LIBDIR})
endif()

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
# It reads large files ahead on threads of its own.
target_link_libraries(filterspace PRIVATE Threads::Threads)
target_link_libraries(filterspace_static PUBLIC Threads::Threads)
add_library(filterspace::filterspace ALIAS filterspace)
add_library(filterspace::filterspace_static ALIAS filterspace_static)

include(CMakePackageConfigHelpers)
install(TARGETS filterspace EXPORT filterspace_targets LIBRARY DESTINATION ${filterspace_libdir}
        COMPONENT library NAMELINK_SKIP EXCLUDE_FROM_ALL)
install(TARGETS filterspace LIBRARY DESTINATION ${filterspace_libdir}
        COMPONENT development NAMELINK_ONLY EXCLUDE_FROM_ALL)
install(TARGETS filterspace_static EXPORT filterspace_targets ARCHIVE DESTINATION ${filterspace_libdir}
        COMPONENT development EXCLUDE_FROM_ALL)
install(FILES include/filterspace/filterspace.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/filterspace
        COMPONENT development EXCLUDE_FROM_ALL)
set(filterspace_cmake_dir ${filterspace_libdir}/cmake/filterspace)
install(EXPORT filterspace_targets NAMESPACE filterspace:: DESTINATION ${filterspace_cmake_dir}
        COMPONENT development EXCLUDE_FROM_ALL)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/filterspaceConfig.cmake
     "include(CMakeFindDependencyMacro)\nfind_dependency(Threads)\n"
     "include(\${CMAKE_CURRENT_LIST_DIR}/filterspace_targets.cmake)\n")
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/filterspaceConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/filterspaceConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/filterspaceConfigVersion.cmake
        DESTINATION ${filterspace_cmake_dir} COMPONENT development EXCLUDE_FROM_ALL)
configure_file(cmake/filterspace.pc.in filterspace.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/filterspace.pc DESTINATION ${filterspace_libdir}/pkgconfig
        COMPONENT development EXCLUDE_FROM_ALL)

# The interface's manual page, with the development files.
configure_file(doc/filterspace.3 man/filterspace.3 @ONLY)
set(compressed_files)
compress(${CMAKE_CURRENT_BINARY_DIR}/man/filterspace.3 filterspace.3)
add_custom_target(library_manual ALL DEPENDS ${compressed_files})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/compressed/filterspace.3.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man3
        COMPONENT development EXCLUDE_FROM_ALL)

# Each package's copyright and changelog, in the place Debian's policy has for them.
foreach(component library development)
  if(component STREQUAL "library")
    set(package libfilterspace${filterspace_abi_version})
  else()
    set(package libfilterspace-dev)
  endif()
  add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${package}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -DIN=${PROJECT_SOURCE_DIR}/CHANGELOG.md -DOUT=${CMAKE_CURRENT_BINARY_DIR}/${package}/changelog
            -DVERSION=${PROJECT_VERSION} -DPACKAGE=${package} -DMAINTAINER=${CPACK_PACKAGE_CONTACT}
            -P ${PROJECT_SOURCE_DIR}/cmake/debian_changelog.cmake
    COMMAND gzip -9nf ${CMAKE_CURRENT_BINARY_DIR}/${package}/changelog
    DEPENDS CHANGELOG.md cmake/debian_changelog.cmake
    COMMENT "Writing ${package}'s changelog"
    VERBATIM)
  add_custom_target(${package}_changelog ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${package}/changelog.gz)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${package}/changelog.gz doc/debian/copyright
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()
install(FILES doc/debian/libfilterspace/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
        RENAME libfilterspace${filterspace_abi_version} COMPONENT library EXCLUDE_FROM_ALL)
configure_file(cmake/CPackLibraryConfig.cmake.in CPackLibraryConfig.cmake @ONLY)
