# Drop-ins for judges that compile checkers themselves (x86-64): one self-contained source per
# protocol, amalgamated from the engine and the front-end at build time, in build/dropins/.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64")
  set(amalgamated_engine ${engine_files} src/common/write_signals.h src/common/inputs.h src/common/position.h
      src/common/text.h src/common/pair.h src/common/inputs.cpp src/common/position.cpp src/common/text.cpp
      src/common/pair.cpp)
  function(amalgamate output title)
    set(files ${amalgamated_engine} ${ARGN})
    list(TRANSFORM files PREPEND ${PROJECT_SOURCE_DIR}/)
    list(JOIN files "|" joined)
    get_filename_component(name ${output} NAME)
    add_custom_command(OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -DOUTPUT=${output} -DTITLE=${title} -DCOMPILE_AS=${name}
              -DLICENSE=${PROJECT_SOURCE_DIR}/LICENSE -DFILES=${joined}
              -P ${PROJECT_SOURCE_DIR}/cmake/amalgamate.cmake
      DEPENDS ${files} src/engine/kernels_functions.h src/engine/kernels_generic.inc src/engine/kernels_avx512.inc LICENSE cmake/amalgamate.cmake
      COMMENT "Amalgamating ${name}"
      VERBATIM)
  endfunction()
  set(dropins ${CMAKE_CURRENT_BINARY_DIR}/dropins)
  set(testlib_dropin ${dropins}/testlib/filterspace_testlib_checker.cpp)
  amalgamate(${testlib_dropin} "filterspace_testlib_checker.cpp: a testlib-style checker by the visible-byte rule"
             src/testlib/filterspace_testlib.cpp)
  set(validator_dropin ${dropins}/output_validator/filterspace_validator.cpp)
  amalgamate(${validator_dropin} "filterspace_validator.cpp: a problem-package output validator by the visible-byte rule"
             src/common/excerpt.h src/common/excerpt.cpp src/common/fresh_file.h src/common/fresh_file.cpp
             src/common/notes_text.h src/common/notes_text.cpp src/validator/filterspace_validator.cpp)
  set(lemon_dropin ${dropins}/lemon/filterspace_lemon.cpp)
  amalgamate(${lemon_dropin} "filterspace_lemon.cpp: a Lemon-style special judge by the visible-byte rule"
             src/common/fresh_file.h src/common/fresh_file.cpp src/lemon/filterspace_lemon.cpp)
  set(hustoj_dropin ${dropins}/hustoj/filterspace_hustoj.cpp)
  amalgamate(${hustoj_dropin} "filterspace_hustoj.cpp: a HUSTOJ-style special judge by the visible-byte rule"
             src/hustoj/filterspace_hustoj.cpp)
  set(syzoj_dropin ${dropins}/syzoj/filterspace_syzoj.cpp)
  amalgamate(${syzoj_dropin} "filterspace_syzoj.cpp: a SYZOJ-style special judge by the visible-byte rule"
             src/syzoj/filterspace_syzoj.cpp)
  set(validator_scripts ${dropins}/output_validator/build ${dropins}/output_validator/run)
  # The directory made here too: the amalgamation that also writes into it may not have run yet.
  add_custom_command(OUTPUT ${validator_scripts}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dropins}/output_validator
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/dropins/output_validator/build
            ${PROJECT_SOURCE_DIR}/dropins/output_validator/run ${dropins}/output_validator/
    DEPENDS dropins/output_validator/build dropins/output_validator/run
    COMMENT "Copying the output validator's scripts")
  add_custom_target(dropins ALL DEPENDS ${testlib_dropin} ${validator_dropin} ${validator_scripts} ${lemon_dropin}
                                        ${hustoj_dropin} ${syzoj_dropin})
endif()
