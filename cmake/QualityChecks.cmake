# Formatting, clang-tidy and cppcheck, each as a test of the native build.
option(ORVANTA_QUALITY_CHECKS "Check formatting, clang-tidy and cppcheck as tests" OFF)
if(NOT ORVANTA_QUALITY_CHECKS)
  return()
endif()

find_program(CLANG_FORMAT_EXE NAMES clang-format REQUIRED)
find_program(CLANG_TIDY_EXE NAMES clang-tidy REQUIRED)
find_program(CPPCHECK_EXE NAMES cppcheck REQUIRED)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)

# The project's own sources, all of them for formatting.
set(source_dirs installer payload skin_name harness skinpack tests scripts/i386)
set(format_sources)
foreach(dir IN LISTS source_dirs)
  file(GLOB_RECURSE found CONFIGURE_DEPENDS
    "${PROJECT_SOURCE_DIR}/${dir}/*.cpp" "${PROJECT_SOURCE_DIR}/${dir}/*.h" "${PROJECT_SOURCE_DIR}/${dir}/*.c")
  list(APPEND format_sources ${found})
endforeach()
add_test(NAME quality.format COMMAND "${CLANG_FORMAT_EXE}" --dry-run -Werror ${format_sources})

# The natively built code for the analysers (the Windows code needs the
# platform's headers, which only the cross compiler has).
set(native_sources)
foreach(dir IN ITEMS skin_name skinpack tests/native tests/skinpack)
  file(GLOB_RECURSE found CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/${dir}/*.cpp")
  list(APPEND native_sources ${found})
endforeach()
add_test(NAME quality.clang_tidy
  COMMAND "${CLANG_TIDY_EXE}" -p "${PROJECT_BINARY_DIR}" --quiet ${native_sources})
add_test(NAME quality.cppcheck
  COMMAND "${CPPCHECK_EXE}" --quiet --error-exitcode=1 --std=c++17 --language=c++
    --library=googletest --enable=warning,performance,portability --inline-suppr
    --suppress=missingIncludeSystem
    "-I${PROJECT_SOURCE_DIR}/skin_name" "-I${PROJECT_SOURCE_DIR}/skinpack"
    ${native_sources})
