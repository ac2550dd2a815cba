# Run as: cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DC_COMPILER=... -DLIBDIR=lib -DBINDIR=bin
#         [-DSANITIZE=asan] -P check_install.cmake
cmake_minimum_required(VERSION 3.25)
set(work ${BUILD_DIR}/install-check)
file(REMOVE_RECURSE ${work})
set(prefix ${work}/prefix)
set(libdir ${prefix}/${LIBDIR})
# Nothing but RUNPATHs may lead a program to the scratch prefix.
unset(ENV{LD_LIBRARY_PATH})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  message(STATUS "${out}")
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

find_program(READELF readelf REQUIRED)
find_program(LDD ldd REQUIRED)

# The dynamic section's RUNPATH of an ELF file, "" when it has none.
function(runpath_of file out)
  execute_process(COMMAND ${READELF} -d ${file} OUTPUT_VARIABLE dyn RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "readelf cannot read ${file}")
  endif()
  set(rp "")
  if(dyn MATCHES "\\(RUNPATH\\)[^[]*\\[([^]]*)\\]")
    set(rp "${CMAKE_MATCH_1}")
  endif()
  set(${out} "${rp}" PARENT_SCOPE)
endfunction()

# Every installed library and program carries a RUNPATH relative to itself, and the loader
# resolves all it needs from that alone: the libraries sit side by side, the programs reach
# them from bin/.
file(RELATIVE_PATH bin_to_lib ${prefix}/${BINDIR} ${libdir})
file(GLOB libs ${libdir}/libOstrel*.so)
file(GLOB tools ${prefix}/${BINDIR}/*)
if(NOT libs OR NOT tools)
  message(FATAL_ERROR "nothing installed in ${libdir} or ${prefix}/${BINDIR}")
endif()
foreach(file IN LISTS libs tools)
  if(file IN_LIST libs)
    set(want "$ORIGIN")
  else()
    set(want "$ORIGIN/${bin_to_lib}")
  endif()
  runpath_of(${file} rp)
  if(NOT rp STREQUAL want)
    message(FATAL_ERROR "${file}: RUNPATH is '${rp}', not '${want}'")
  endif()
  execute_process(COMMAND ${LDD} ${file} OUTPUT_VARIABLE deps RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR deps MATCHES "not found")
    message(FATAL_ERROR "${file} does not load from ${prefix} on its own:\n${deps}")
  endif()
endforeach()

# Programs built as the README says: the program's own -Wl,-rpath (or CMake's build RUNPATH)
# leads to the libraries it calls; what those libraries need must come through their own
# RUNPATH. Linking --as-needed (the default of many toolchains) keeps the program's NEEDED list
# to what it calls, so the crypto core behind the provider can be found only that way.
function(check_needs exe)
  execute_process(COMMAND ${READELF} -d ${exe} OUTPUT_VARIABLE dyn)
  if(NOT dyn MATCHES "libOstrelCSP\\.so" OR dyn MATCHES "libOstrelCrypto\\.so")
    message(FATAL_ERROR "${exe} should need libOstrelCSP and not libOstrelCrypto:\n${dyn}")
  endif()
endfunction()

set(flags -std=c99 -pedantic -Wall -Wextra -Werror)
if(SANITIZE STREQUAL "asan")
  list(APPEND flags -fsanitize=address,undefined)
elseif(SANITIZE STREQUAL "tsan")
  list(APPEND flags -fsanitize=thread)
endif()

# Plain flags, strict C99 and with GNU extensions (where <math.h> defines its own HUGE).
foreach(std c99 gnu99)
  run(${C_COMPILER} ${flags} -std=${std} -I${prefix}/include/ostrel ${SOURCE_DIR}/consumer.c
      -L${libdir} -lOstrelIO -Wl,-rpath,${libdir} -o ${work}/consumer_${std})
  run(${work}/consumer_${std})
endforeach()

# Every installed header compiles on its own as C.
file(GLOB headers ${prefix}/include/ostrel/*.h)
foreach(h IN LISTS headers)
  get_filename_component(name ${h} NAME)
  file(WRITE ${work}/hdr_${name}.c "#include \"${name}\"\nint main(void) { return 0; }\n")
  run(${C_COMPILER} ${flags} -I${prefix}/include/ostrel -c ${work}/hdr_${name}.c -o ${work}/hdr_${name}.o)
endforeach()

# pkg-config
find_program(PKGCONF NAMES pkg-config pkgconf)
if(PKGCONF)
  set(ENV{PKG_CONFIG_PATH} ${libdir}/pkgconfig)
  foreach(pair IN ITEMS OstrelIO=consumer OstrelCSP=csp_consumer)
    string(REPLACE "=" ";" pair ${pair})
    list(GET pair 0 module)
    list(GET pair 1 program)
    execute_process(COMMAND ${PKGCONF} --cflags --libs ${module} OUTPUT_VARIABLE pc RESULT_VARIABLE rc
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "pkg-config does not know ${module}")
    endif()
    separate_arguments(pcflags UNIX_COMMAND "${pc}")
    run(${C_COMPILER} ${flags} ${SOURCE_DIR}/${program}.c -Wl,--as-needed ${pcflags} -Wl,-rpath,${libdir}
        -o ${work}/${program}_pc)
    run(${work}/${program}_pc)
  endforeach()
  check_needs(${work}/csp_consumer_pc)
else()
  message(FATAL_ERROR "pkg-config is missing")
endif()

# find_package(Ostrel)
file(MAKE_DIRECTORY ${work}/pkg)
configure_file(${SOURCE_DIR}/CMakeLists.txt.in ${work}/pkg/CMakeLists.txt COPYONLY)
configure_file(${SOURCE_DIR}/consumer.c ${work}/pkg/consumer.c COPYONLY)
configure_file(${SOURCE_DIR}/csp_consumer.c ${work}/pkg/csp_consumer.c COPYONLY)
list(JOIN flags " " cflags)
# CMake gives programs in their build tree the RUNPATH of the imported libraries by itself.
run(${CMAKE_COMMAND} -S ${work}/pkg -B ${work}/pkg/build -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_C_COMPILER=${C_COMPILER} "-DCMAKE_C_FLAGS=${cflags}" -DCMAKE_EXE_LINKER_FLAGS=-Wl,--as-needed)
run(${CMAKE_COMMAND} --build ${work}/pkg/build)
run(${work}/pkg/build/consumer)
run(${work}/pkg/build/csp_consumer)
check_needs(${work}/pkg/build/csp_consumer)
