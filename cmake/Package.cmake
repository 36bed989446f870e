# Installed: the commands, their manual pages, and the package's documentation files (the
# copyright, the changelog, and the reason the commands are static for lintian). Debian's policy
# has manual pages and changelogs compressed, without time stamps.
include(GNUInstallDirs)
install(TARGETS filterspace_e filterspace_cmp filterspace_validator filterspace_testlib filterspace_cms
                filterspace_lemon filterspace_hustoj filterspace_syzoj
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET dropins)
  install(FILES ${testlib_dropin} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/filterspace-e/testlib)
  install(FILES ${validator_dropin} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/filterspace-e/output_validator)
  install(PROGRAMS ${validator_scripts} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/filterspace-e/output_validator)
  foreach(dropin lemon hustoj syzoj)
    install(FILES ${${dropin}_dropin} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/filterspace-e/${dropin})
  endforeach()
endif()
function(compress source name)
  set(compressed ${CMAKE_CURRENT_BINARY_DIR}/compressed/${name}.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${name}
    COMMAND gzip -9nf ${name}
    DEPENDS ${source}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/compressed
    COMMENT "Compressing ${name}")
  set(compressed_files ${compressed_files} ${compressed} PARENT_SCOPE)
endfunction()
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/compressed)
foreach(page filterspace_e.1 filterspace_cmp.1 filterspace_validator.1 filterspace_testlib.1 filterspace_cms.1
             filterspace_lemon.1 filterspace_hustoj.1 filterspace_syzoj.1)
  # The version stands in the manual pages' title lines.
  configure_file(doc/${page} man/${page} @ONLY)
  compress(${CMAKE_CURRENT_BINARY_DIR}/man/${page} ${page})
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/compressed/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
set(CPACK_PACKAGE_CONTACT "filterspace_e maintainers <maintainers@filterspace-e.invalid>")
add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/changelog
  COMMAND ${CMAKE_COMMAND} -DIN=${PROJECT_SOURCE_DIR}/CHANGELOG.md -DOUT=${CMAKE_CURRENT_BINARY_DIR}/changelog
          -DVERSION=${PROJECT_VERSION} -DPACKAGE=filterspace-e -DMAINTAINER=${CPACK_PACKAGE_CONTACT}
          -P ${PROJECT_SOURCE_DIR}/cmake/debian_changelog.cmake
  DEPENDS CHANGELOG.md cmake/debian_changelog.cmake
  COMMENT "Writing the package's changelog from CHANGELOG.md"
  VERBATIM)
compress(${CMAKE_CURRENT_BINARY_DIR}/changelog changelog)
add_custom_target(compressed_documents ALL DEPENDS ${compressed_files})
set(package_doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/filterspace-e)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/compressed/changelog.gz doc/debian/copyright DESTINATION ${package_doc_dir})
install(FILES doc/debian/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
        RENAME filterspace-e)

# The Debian package: cpack -G DEB from the build directory.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME filterspace-e)
set(CPACK_PACKAGE_VENDOR "filterspace_e maintainers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR MATCHES "aarch64|arm64")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)  # not the build machine's
endif()
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies are computed from the binary's shared libraries: a static binary has none.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "filterspace_e is the answer checker of an automatic judge. Called with the
input, the contestant's output and the standard answer, it decides whether
the output matches the answer, ignoring every byte outside 0x21..0x7E
(white space, control bytes, all non-ASCII text), and leaves its verdict in
/tmp/_eval.score and in its exit status (1 when right).

It is a static executable that runs in a bare chroot, reads its inputs as
fast as they can be read, and uses constant memory whatever their sizes.

filterspace_cmp, the companion command for people, compares two files by the
same rule and shows where they part: the line and column in each file, with
an excerpt of the line.

filterspace_validator, filterspace_testlib and filterspace_cms speak the
checker protocols of problem packages (DOMjudge, Kattis), testlib-style judges
and CMS; filterspace_lemon, filterspace_hustoj and filterspace_syzoj the
special-judge protocols of LemonLime, HUSTOJ and SYZOJ, as Hydro and LibreOJ
speak them too. Single-source drop-ins of each but CMS's, for judges that
compile checkers themselves, are in /usr/share/filterspace-e.")
# Reproducible packages: every time stamp in the package is the last commit's, unless the caller
# set SOURCE_DATE_EPOCH; cpack reads it from the configuration script below.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(source_date_epoch $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} log -1 --format=%ct
                  OUTPUT_VARIABLE source_date_epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
configure_file(cmake/CPackProjectConfig.cmake.in CPackProjectConfig.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/CPackProjectConfig.cmake)
include(CPack)
