# Fuzz targets. Each target is one LLVMFuzzerTestOneInput with a seed corpus
# in fuzz/corpus/<name>/.
#  - In the native test build the target is linked with a small replay main
#    and its corpus runs as a regression test under the sanitizers.
#  - With -DTARVIX_FUZZ=ON (clang) it is a libFuzzer program; scripts/fuzz.sh
#    runs each one for a while.
function(tarvix_add_fuzzer name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  set(corpus ${PROJECT_SOURCE_DIR}/fuzz/corpus/${name})
  if(TARVIX_FUZZ)
    add_executable(${name} ${F_SOURCES})
    target_link_libraries(${name} PRIVATE ${F_LIBS})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  elseif(TARVIX_TESTS)
    add_executable(${name}_replay ${F_SOURCES} ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
    target_link_libraries(${name}_replay PRIVATE ${F_LIBS})
    add_test(NAME fuzz_corpus.${name} COMMAND ${name}_replay ${corpus})
  endif()
endfunction()
