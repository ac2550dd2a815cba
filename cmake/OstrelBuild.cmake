# Build helpers shared by every Ostrel library, tool, test, benchmark and fuzz target.
#
#   ostrel_library(<Name> DIR <short> VERSION a.b.c.d
#                  VERSION_FUNCTION fn    its GetVersion (default QRT_<NAME>_GetVersion)
#                  REQUIRES <short>=a.b.c.d ...   minimum versions of linked libraries, where it
#                                         demands more than OSTREL_MINIMUM_VERSIONS says
#                  ERRORS errors.tsv      its result codes and their texts (see errgen.py)
#                  SOURCES ...            C++ modules
#                  EUCKR_SOURCES ...      modules whose UTF-8 string literals become EUC-KR bytes
#                  HEADERS ...            public headers, installed to include/ostrel
#                  GENERATED_HEADERS ...  public headers produced in the binary dir
#                  LINKS ...              Ostrel libraries this one links (short names: io asn ...)
#                  PRIVATE_LINKS ...      other libraries (OpenSSL::Crypto ...)
#                  TESTS ...              GoogleTest sources of its unit tests
#                  TEST_LINKS ...         extra libraries for the unit tests
#                  TEST_LABELS ...        ctest labels (default: unit)
#                  TEST_ENV ...           extra environment for the unit tests
#                  BENCHES ...            Google Benchmark sources (bench/)
#                  BENCH_LINKS ...
#                  FUZZERS name=source.cpp ...   libFuzzer targets
#                  FUZZ_CORPUS ...        seed corpus directories for its fuzzers
#                                         (default: fuzz/corpus/<fuzzer name> when it exists)
#                  FUZZ_SECONDS n)        how long the CI smoke run gives each fuzzer
#
# A library <Name> builds target ostrel_<short>, file libOstrel<Name>.so with a SONAME taken from
# its version, alias Ostrel::<Name>, one pkg-config file and an entry in the CMake package.
#
# Its frame reads the generated <short>_version.hpp: the version, and for every Ostrel library it
# links that has a minimum (OSTREL_MINIMUM_VERSIONS or REQUIRES) that library's GetVersion and
# the minimum. With ERRORS, the public header suite_<short>_codes.h (the #defines, installed) and
# the private <short>_errors.hpp (the texts) are generated from the list.

set(OSTREL_EUCKR_TOOL ${CMAKE_CURRENT_LIST_DIR}/euckr.py)
set(OSTREL_EXPORTS_MAP ${CMAKE_CURRENT_LIST_DIR}/exports.map)
# Installed programs find the libraries from bin/ through a RUNPATH relative to themselves.
file(RELATIVE_PATH OSTREL_BIN_TO_LIB ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
set(OSTREL_ERRGEN_TOOL ${CMAKE_CURRENT_LIST_DIR}/errgen.py)
set_property(GLOBAL PROPERTY OSTREL_EXPORTED_TARGETS "")
set_property(GLOBAL PROPERTY OSTREL_PUBLIC_HEADERS "")

# Warnings and sanitizers apply to every target of the tree.
add_compile_options(-Wall -Wextra -Wshadow -Wno-missing-field-initializers)
if(OSTREL_WERROR)
  add_compile_options(-Werror)
endif()
if(OSTREL_SANITIZE STREQUAL "asan")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(OSTREL_SANITIZE STREQUAL "tsan")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT OSTREL_SANITIZE STREQUAL "")
  message(FATAL_ERROR "OSTREL_SANITIZE must be empty, asan or tsan")
endif()
if(OSTREL_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "fuzz targets need clang (use the fuzz preset)")
  endif()
  # Undefined behaviour stops the run like any other finding, instead of a line in the log.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
    -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

function(_ostrel_target_of short out)
  set(${out} ostrel_${short} PARENT_SCOPE)
endfunction()

# Writes <short>_version.hpp for the library being declared (called by ostrel_library, whose
# parsed arguments it reads) and records the library's GetVersion for those that link it.
macro(_ostrel_version_header name)
  string(TOUPPER ${name} _upper)
  if(NOT L_VERSION_FUNCTION)
    set(L_VERSION_FUNCTION QRT_${_upper}_GetVersion)
  endif()
  set_property(GLOBAL PROPERTY OSTREL_VERSION_FUNCTION_${L_DIR} ${L_VERSION_FUNCTION})

  set(_includes "")
  set(_rows "")
  set(_count 0)
  foreach(_dep IN LISTS L_LINKS)
    set(_min "")
    foreach(_pair IN LISTS OSTREL_MINIMUM_VERSIONS L_REQUIRES)  # REQUIRES comes last and wins
      if(_pair MATCHES "^${_dep}=(.+)$")
        set(_min ${CMAKE_MATCH_1})
      endif()
    endforeach()
    if(_min)
      get_property(_fn GLOBAL PROPERTY OSTREL_VERSION_FUNCTION_${_dep})
      string(APPEND _includes "#include \"suite_${_dep}.h\"\n")
      string(APPEND _rows "    Requirement{${_fn}, \"${_min}\"},\n")
      math(EXPR _count "${_count} + 1")
    endif()
  endforeach()
  foreach(_pair IN LISTS L_REQUIRES)
    string(REGEX REPLACE "=.*" "" _dep ${_pair})
    if(NOT _dep IN_LIST L_LINKS)
      message(FATAL_ERROR "ostrel_library(${name}): REQUIRES ${_pair} names a library it does not link")
    endif()
  endforeach()
  file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${L_DIR}_version.hpp CONTENT
"// Generated by ostrel_library() from lib/${L_DIR}/CMakeLists.txt: the version of libOstrel${name}
// and the oldest versions of the libraries it links that it accepts at run time.
#pragma once

#include <array>

#include \"ostrel/frame.hpp\"
${_includes}
namespace ostrel::generated {

inline constexpr const char kVersion[] = \"${L_VERSION}\";
inline constexpr std::array<Requirement, ${_count}> kRequirements{
${_rows}};

}  // namespace ostrel::generated
")
endmacro()

function(ostrel_library name)
  cmake_parse_arguments(L "" "DIR;VERSION;VERSION_FUNCTION;ERRORS;FUZZ_SECONDS"
    "REQUIRES;SOURCES;EUCKR_SOURCES;HEADERS;GENERATED_HEADERS;LINKS;PRIVATE_LINKS;TESTS;TEST_LINKS;TEST_LABELS;TEST_ENV;BENCHES;BENCH_LINKS;FUZZERS;FUZZ_CORPUS"
    ${ARGN})
  if(NOT L_DIR OR NOT L_VERSION)
    message(FATAL_ERROR "ostrel_library(${name}) needs DIR and VERSION")
  endif()
  set(tgt ostrel_${L_DIR})

  set(sources ${L_SOURCES})
  # The converter writes beside the library's objects; Ninja makes output folders itself, Make
  # does not, so the folder exists from configure time on.
  if(L_EUCKR_SOURCES)
    file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/euckr)
  endif()
  foreach(src IN LISTS L_EUCKR_SOURCES)
    get_filename_component(base ${src} NAME)
    set(out ${CMAKE_CURRENT_BINARY_DIR}/euckr/${base})
    add_custom_command(OUTPUT ${out}
      COMMAND ${Python3_EXECUTABLE} ${OSTREL_EUCKR_TOOL} ${CMAKE_CURRENT_SOURCE_DIR}/${src} ${out}
      DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${src} ${OSTREL_EUCKR_TOOL}
      COMMENT "EUC-KR texts of ${src}")
    list(APPEND sources ${out})
  endforeach()

  if(L_ERRORS)
    set(codes_h suite_${L_DIR}_codes.h)
    set(texts_h ${CMAKE_CURRENT_BINARY_DIR}/${L_DIR}_errors.hpp)
    add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${codes_h} ${texts_h}
      COMMAND ${Python3_EXECUTABLE} ${OSTREL_ERRGEN_TOOL} --list ${CMAKE_CURRENT_SOURCE_DIR}/${L_ERRORS}
              --library libOstrel${name} --header ${CMAKE_CURRENT_BINARY_DIR}/${codes_h} --texts ${texts_h}
      DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${L_ERRORS} ${OSTREL_ERRGEN_TOOL} ${OSTREL_EUCKR_TOOL}
      COMMENT "Result codes of libOstrel${name}")
    list(APPEND sources ${CMAKE_CURRENT_BINARY_DIR}/${codes_h} ${texts_h})
    list(APPEND L_GENERATED_HEADERS ${codes_h})
  endif()
  _ostrel_version_header(${name})

  add_library(${tgt} SHARED ${sources} ${L_HEADERS})
  add_library(Ostrel::${name} ALIAS ${tgt})
  string(REGEX MATCH "^[0-9]+" major ${L_VERSION})
  set_target_properties(${tgt} PROPERTIES
    OUTPUT_NAME Ostrel${name}
    VERSION ${L_VERSION}
    SOVERSION ${major}
    EXPORT_NAME ${name}
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib
    INSTALL_RPATH "$ORIGIN"
    LINK_DEPENDS ${OSTREL_EXPORTS_MAP})
  target_include_directories(${tgt} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}>
    $<BUILD_INTERFACE:${CMAKE_CURRENT_BINARY_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/ostrel>)
  target_compile_definitions(${tgt} PRIVATE OSTREL_BUILDING_LIBRARY _GNU_SOURCE)
  target_link_libraries(${tgt} PRIVATE ostrel_common Threads::Threads)
  # Installed, the libraries sit side by side and find each other through a RUNPATH of $ORIGIN,
  # whatever the prefix; RUNPATH rather than RPATH, so LD_LIBRARY_PATH still takes precedence.
  target_link_options(${tgt} PRIVATE LINKER:--enable-new-dtags)
  target_link_options(${tgt} PRIVATE LINKER:--version-script=${OSTREL_EXPORTS_MAP})
  if(NOT OSTREL_BUILD_FUZZ)  # clang links the sanitizer runtime into executables only
    target_link_options(${tgt} PRIVATE -Wl,--no-undefined)
  endif()

  set(requires "")
  foreach(dep IN LISTS L_LINKS)
    target_link_libraries(${tgt} PUBLIC ostrel_${dep})
    get_target_property(depname ostrel_${dep} OUTPUT_NAME)
    list(APPEND requires ${depname})
  endforeach()
  if(L_PRIVATE_LINKS)
    target_link_libraries(${tgt} PRIVATE ${L_PRIVATE_LINKS})
  endif()

  set(pub ${L_HEADERS})
  list(TRANSFORM pub PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
  foreach(h IN LISTS L_GENERATED_HEADERS)
    list(APPEND pub ${CMAKE_CURRENT_BINARY_DIR}/${h})
  endforeach()
  install(TARGETS ${tgt} EXPORT OstrelTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ostrel)
  install(FILES ${pub} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ostrel)
  set_property(GLOBAL APPEND PROPERTY OSTREL_PUBLIC_HEADERS ${pub})

  list(JOIN requires ", " OSTREL_PC_REQUIRES)
  set(OSTREL_PC_NAME Ostrel${name})
  set(OSTREL_PC_VERSION ${L_VERSION})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/ostrel.pc.in
    ${CMAKE_BINARY_DIR}/pkgconfig/Ostrel${name}.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/pkgconfig/Ostrel${name}.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

  if(OSTREL_BUILD_TESTS AND L_TESTS)
    set(labels unit)
    if(L_TEST_LABELS)
      set(labels ${L_TEST_LABELS})
    endif()
    ostrel_test(test_${L_DIR} SOURCES ${L_TESTS} LINKS ${tgt} ${L_TEST_LINKS}
      LABELS ${labels} ENV ${L_TEST_ENV})
  endif()
  if(OSTREL_BUILD_BENCH AND L_BENCHES)
    ostrel_bench(bench_${L_DIR} SOURCES ${L_BENCHES} LINKS ${tgt} ${L_BENCH_LINKS})
  endif()
  if(OSTREL_BUILD_FUZZ AND L_FUZZERS)
    foreach(f IN LISTS L_FUZZERS)
      string(REPLACE "=" ";" parts ${f})
      list(GET parts 0 fname)
      list(GET parts 1 fsrc)
      ostrel_fuzzer(${fname} SOURCES ${fsrc} LINKS ${tgt}
        CORPUS ${L_FUZZ_CORPUS} SECONDS ${L_FUZZ_SECONDS})
    endforeach()
  endif()
endfunction()

# A GoogleTest executable; every test runs from the project root so that ../shared/ resolves.
function(ostrel_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LINKS;LABELS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LINKS} ostrel_test_support GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  target_compile_definitions(${name} PRIVATE _GNU_SOURCE
    OSTREL_SOURCE_DIR="${PROJECT_SOURCE_DIR}" OSTREL_BINARY_DIR="${CMAKE_BINARY_DIR}")
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${T_LABELS}" ENVIRONMENT "${T_ENV}" TIMEOUT 600)
endfunction()

# A Google Benchmark program with its OpenSSL baseline; ctest runs it once, briefly, so it keeps working.
function(ostrel_bench name)
  cmake_parse_arguments(B "" "" "SOURCES;LINKS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LINKS} ostrel_common benchmark::benchmark Threads::Threads)
  target_compile_definitions(${name} PRIVATE _GNU_SOURCE OSTREL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  if(OSTREL_BUILD_TESTS)
    add_test(NAME ${name}.smoke COMMAND ${name} --benchmark_min_time=0.001
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
    set_tests_properties(${name}.smoke PROPERTIES LABELS bench TIMEOUT 600)
  endif()
endfunction()

# A libFuzzer target; a manifest beside it tells the CI smoke run its seeds and time.
function(ostrel_fuzzer name)
  cmake_parse_arguments(F "" "SECONDS" "SOURCES;LINKS;CORPUS" ${ARGN})
  if(NOT F_SECONDS)
    set(F_SECONDS 10)
  endif()
  if(NOT F_CORPUS AND IS_DIRECTORY ${PROJECT_SOURCE_DIR}/fuzz/corpus/${name})
    set(F_CORPUS fuzz/corpus/${name})
  endif()
  add_executable(fuzz_${name} ${F_SOURCES})
  target_link_libraries(fuzz_${name} PRIVATE ${F_LINKS} ostrel_common)
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  set_target_properties(fuzz_${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  list(TRANSFORM F_CORPUS PREPEND "${PROJECT_SOURCE_DIR}/" REGEX "^[^/]")
  list(JOIN F_CORPUS " " corpus)
  file(WRITE ${CMAKE_BINARY_DIR}/fuzz/fuzz_${name}.run "${F_SECONDS} ${corpus}\n")
endfunction()

# A program installed to bin/.
function(ostrel_tool name)
  cmake_parse_arguments(P "" "" "SOURCES;LINKS" ${ARGN})
  add_executable(${name} ${P_SOURCES})
  target_link_libraries(${name} PRIVATE ${P_LINKS} ostrel_common Threads::Threads)
  target_compile_definitions(${name} PRIVATE _GNU_SOURCE)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin
    INSTALL_RPATH "$ORIGIN/${OSTREL_BIN_TO_LIB}")
  target_link_options(${name} PRIVATE LINKER:--enable-new-dtags)
  install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()

function(ostrel_install_package)
  include(CMakePackageConfigHelpers)
  install(EXPORT OstrelTargets NAMESPACE Ostrel:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Ostrel)
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/OstrelConfig.cmake.in
    ${CMAKE_BINARY_DIR}/OstrelConfig.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Ostrel)
  write_basic_package_version_file(${CMAKE_BINARY_DIR}/OstrelConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
  install(FILES ${CMAKE_BINARY_DIR}/OstrelConfig.cmake ${CMAKE_BINARY_DIR}/OstrelConfigVersion.cmake
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Ostrel)
endfunction()
