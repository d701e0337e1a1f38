# orvanta_add_fuzzer(<name> SOURCES <files...> [LIBRARIES <targets...>] CORPUS <dir>)
#
# With ORVANTA_FUZZ on (clang only), builds a libFuzzer binary with
# AddressSanitizer and UndefinedBehaviorSanitizer and adds a short, bounded
# fuzzing run as a test: it starts from the committed corpus in <dir> and
# writes what it finds to fuzz-findings/<name> in the build folder (merge
# what is worth keeping into <dir>: <name> -merge=1 <dir> <findings>).
option(ORVANTA_FUZZ "Build the libFuzzer targets and run each briefly as a test (needs clang)" OFF)
set(ORVANTA_FUZZ_SECONDS 10 CACHE STRING "How long each fuzzing test runs")

function(orvanta_add_fuzzer name)
  if(NOT ORVANTA_FUZZ)
    return()
  endif()
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "ORVANTA_FUZZ needs clang (libFuzzer)")
  endif()
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "CORPUS" "SOURCES;LIBRARIES")
  set(flags -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all)
  add_executable(${name} ${arg_SOURCES})
  target_compile_options(${name} PRIVATE ${flags})
  target_link_options(${name} PRIVATE ${flags})
  target_link_libraries(${name} PRIVATE ${arg_LIBRARIES} orvanta_warnings)
  set(findings "${PROJECT_BINARY_DIR}/fuzz-findings/${name}")
  file(MAKE_DIRECTORY "${findings}")
  add_test(NAME fuzz.${name}
    COMMAND ${name} -max_total_time=${ORVANTA_FUZZ_SECONDS} -seed=1 -print_final_stats=1
      -artifact_prefix=${findings}/ "${findings}" "${arg_CORPUS}")
  set_tests_properties(fuzz.${name} PROPERTIES TIMEOUT 300)
endfunction()
