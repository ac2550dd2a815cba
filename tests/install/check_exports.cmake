# Run as: cmake -DLIB_DIR=<folder of libOstrel*.so> -DHEADERS=<file naming the public headers>
#         [-DSANITIZE=asan] -P check_exports.cmake
#
# Every shared library exports its C ABI and nothing else: functions and data named QRT_, WJ_
# or WJC_, and the data records the public headers declare (QRT_API extern ...). A C++ name, our
# own or a libstdc++ instantiation, is a leak.
cmake_minimum_required(VERSION 3.25)
find_program(NM nm REQUIRED)

set(declared "")
file(STRINGS ${HEADERS} headers)
foreach(h IN LISTS headers)
  file(STRINGS ${h} decls REGEX "^QRT_API[ \t]+extern[ \t]")
  foreach(d IN LISTS decls)
    if(d MATCHES "([A-Za-z_][A-Za-z0-9_]*)[ \t]*(\\[[^]]*\\][ \t]*)*;")
      list(APPEND declared ${CMAKE_MATCH_1})
    endif()
  endforeach()
endforeach()
if(NOT declared)
  message(FATAL_ERROR "no exported data found in the headers named by ${HEADERS}")
endif()

# What the linker defines in every shared object.
set(linker_names _init _fini _edata _end __bss_start)

file(GLOB libs ${LIB_DIR}/libOstrel*.so)
if(NOT libs)
  message(FATAL_ERROR "no libraries in ${LIB_DIR}")
endif()
set(report "")
foreach(lib IN LISTS libs)
  execute_process(COMMAND ${NM} -D --defined-only ${lib} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "nm cannot read ${lib}")
  endif()
  string(REGEX MATCHALL "[^\n]+" rows "${out}")
  set(leaks "")
  foreach(row IN LISTS rows)
    # "<address> <type> <name>[@[@]<version>]"; type A marks a version definition.
    if(NOT row MATCHES "^[0-9a-fA-F]* *([A-Za-z]) ([^@ ]+)" OR CMAKE_MATCH_1 STREQUAL "A")
      continue()
    endif()
    set(name ${CMAKE_MATCH_2})
    if(name MATCHES "^(QRT_|WJ_|WJC_)" OR name IN_LIST declared OR name IN_LIST linker_names)
      continue()
    endif()
    # Sanitizer builds add the instrumentation's own names (ODR indicators and the like).
    if(SANITIZE AND name MATCHES "^_+(asan|odr_asan|tsan|ubsan|sanitizer)")
      continue()
    endif()
    list(APPEND leaks ${name})
  endforeach()
  if(leaks)
    get_filename_component(base ${lib} NAME)
    list(JOIN leaks "\n    " lines)
    string(APPEND report "\n  ${base}:\n    ${lines}")
  endif()
endforeach()
if(report)
  message(FATAL_ERROR "names outside the C ABI are exported:${report}")
endif()
list(LENGTH libs n)
message(STATUS "${n} libraries export their C ABI only")
