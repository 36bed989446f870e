# The comparison engine's files, the one list the commands, the amalgamated drop-ins and the Node
# package are made from, in the order the amalgamation concatenates them: each after the files it
# uses. kernels_functions.h, kernels_generic.inc and kernels_avx512.inc are not listed: a kernel
# set includes them inside its namespace, and the amalgamation puts them where they are included.
set(engine_first_files src/engine/kernels.h src/engine/kernels_scalar.h src/engine/kernels_target.h
    src/engine/kernels_pack.h src/engine/read_ahead.h src/engine/compare.h src/engine/side.h src/engine/survey.h
    src/engine/kernels_scalar.cpp)
set(engine_x86_files src/engine/kernels_x86.h src/engine/cpu_features_x86.cpp src/engine/kernels_avx2.cpp
    src/engine/kernels_avx512.cpp)
set(engine_arm64_files src/engine/kernels_neon.h src/engine/kernels_neon.cpp)
set(engine_last_files src/engine/kernels.cpp src/engine/read_ahead.cpp src/engine/side.cpp src/engine/survey.cpp
    src/engine/compare.cpp)
# What a kernel set includes inside its namespace.
set(engine_included_files src/engine/kernels_functions.h src/engine/kernels_generic.inc src/engine/kernels_avx512.inc)

set(engine_files ${engine_first_files})
if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64")
  list(APPEND engine_files ${engine_x86_files})
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "aarch64|arm64")
  list(APPEND engine_files ${engine_arm64_files})
endif()
list(APPEND engine_files ${engine_last_files})
set(engine_sources ${engine_files})
list(FILTER engine_sources INCLUDE REGEX "\\.cpp$")
