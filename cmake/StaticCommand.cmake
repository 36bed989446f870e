# The shipped commands are static executables: a judge's sandbox or chroot often lacks the right
# shared libraries, and a static binary starts faster.
#
# With FILTERSPACE_MUSL they are linked against musl (Debian's musl-tools): a static glibc
# program probes the processor with dozens of CPUID instructions before main, and each one traps
# to the hypervisor on a virtual machine. There is no libstdc++ built for musl, so the commands
# use only the header-only parts of the C++ library: a rule launcher compiles and links them, and
# a copy of the engine, with gcc's driver and musl's specs, libstdc++'s headers and the kernel's.
# Otherwise they are ordinary executables against glibc, static unless the sanitizers are on.
#
# add_static_command(NAME SOURCE...) builds the command NAME with the engine.
#
# The engine, the files of src/common/ and the front-ends that the drop-ins amalgamate are C++14,
# as judges compile the drop-ins (Hydro's g++ -std=c++14, an older HUSTOJ's g++ with its default
# standard): they are built so here too, so that nothing newer creeps in.

include(${CMAKE_CURRENT_LIST_DIR}/EngineSources.cmake)
# The commands need neither exceptions nor run-time type information, whose support code would
# be linked into a static binary.
# Each function in a section of its own, so that a command's link drops what it never calls (the
# comparison of buffers in memory, which only the library uses).
set(lean_options -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -ffunction-sections -fdata-sections)

# The engine as the tests, the benchmark and the fuzzer link it (and the commands on glibc). It
# reads large files ahead on threads of its own.
find_package(Threads REQUIRED)
add_library(checker_engine STATIC ${engine_sources})
set_target_properties(checker_engine PROPERTIES CXX_STANDARD 14)
target_include_directories(checker_engine PUBLIC src/engine)
target_link_libraries(checker_engine PUBLIC Threads::Threads)
target_compile_options(checker_engine PRIVATE ${lean_options})
set(command_engine checker_engine)

if(FILTERSPACE_MUSL)
  if(FILTERSPACE_SANITIZE OR NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    message(FATAL_ERROR "FILTERSPACE_MUSL needs g++ and no sanitizers; use the glibc preset (-DFILTERSPACE_MUSL=OFF)")
  endif()
  string(REPLACE "-gnu" "-musl" musl_architecture "${CMAKE_LIBRARY_ARCHITECTURE}")
  find_file(musl_specs musl-gcc.specs PATHS /usr/lib/${musl_architecture} NO_DEFAULT_PATH)
  if(NOT musl_specs)
    message(FATAL_ERROR "musl is not installed (apt-get install musl-tools); or build with glibc: "
                        "cmake --preset glibc, or -DFILTERSPACE_MUSL=OFF")
  endif()
  string(REGEX MATCH "^[0-9]+" gcc_major "${CMAKE_CXX_COMPILER_VERSION}")
  find_program(musl_gcc NAMES gcc-${gcc_major} gcc REQUIRED)
  # musl's headers come without the kernel's: a directory of links to them.
  set(kernel_headers ${CMAKE_BINARY_DIR}/musl-kernel-headers)
  file(MAKE_DIRECTORY ${kernel_headers})
  file(CREATE_LINK /usr/include/linux ${kernel_headers}/linux SYMBOLIC)
  file(CREATE_LINK /usr/include/asm-generic ${kernel_headers}/asm-generic SYMBOLIC)
  file(CREATE_LINK /usr/include/${CMAKE_LIBRARY_ARCHITECTURE}/asm ${kernel_headers}/asm SYMBOLIC)
  set(musl_launcher "sh ${PROJECT_SOURCE_DIR}/cmake/musl-launcher ${musl_gcc} ${musl_specs} \
/usr/include/c++/${gcc_major} /usr/include/${CMAKE_LIBRARY_ARCHITECTURE}/c++/${gcc_major} ${kernel_headers}")

  add_library(checker_engine_musl STATIC ${engine_sources})
  set_target_properties(checker_engine_musl PROPERTIES CXX_STANDARD 14)
  target_include_directories(checker_engine_musl PUBLIC src/engine)
  target_compile_options(checker_engine_musl PRIVATE ${lean_options})
  set_target_properties(checker_engine_musl PROPERTIES RULE_LAUNCH_COMPILE "${musl_launcher}")
  set(command_engine checker_engine_musl)
endif()

function(add_static_command name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE ${command_engine})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src/common)
  target_compile_options(${name} PRIVATE ${lean_options})
  target_compile_definitions(${name} PRIVATE FILTERSPACE_VERSION="${PROJECT_VERSION}")
  if(FILTERSPACE_MUSL)
    set_target_properties(${name} PROPERTIES RULE_LAUNCH_COMPILE "${musl_launcher}" RULE_LAUNCH_LINK "${musl_launcher}")
  endif()
  # The sanitizers need a dynamic executable. A release build is stripped when linked, whatever
  # strip the package generator would find (llvm-strip beside clang leaves it as it is).
  if(NOT FILTERSPACE_SANITIZE AND NOT FILTERSPACE_TSAN)
    target_link_options(${name} PRIVATE -static -Wl,--gc-sections $<$<CONFIG:Release,MinSizeRel>:-s>)
  endif()
endfunction()
