# Run as: cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DC_COMPILER=... [-DSANITIZE=asan] -P check_install.cmake
set(work ${BUILD_DIR}/install-check)
file(REMOVE_RECURSE ${work})
set(prefix ${work}/prefix)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  message(STATUS "${out}")
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

set(flags -std=c99 -pedantic -Wall -Wextra -Werror)
if(SANITIZE STREQUAL "asan")
  list(APPEND flags -fsanitize=address,undefined)
elseif(SANITIZE STREQUAL "tsan")
  list(APPEND flags -fsanitize=thread)
endif()

# Plain flags, strict C99 and with GNU extensions (where <math.h> defines its own HUGE).
foreach(std c99 gnu99)
  run(${C_COMPILER} ${flags} -std=${std} -I${prefix}/include/ostrel ${SOURCE_DIR}/consumer.c
      -L${prefix}/lib -lOstrelIO -Wl,-rpath,${prefix}/lib -o ${work}/consumer_${std})
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
  set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
  execute_process(COMMAND ${PKGCONF} --cflags --libs OstrelIO OUTPUT_VARIABLE pc RESULT_VARIABLE rc
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "pkg-config does not know OstrelIO")
  endif()
  separate_arguments(pcflags UNIX_COMMAND "${pc}")
  run(${C_COMPILER} ${flags} ${SOURCE_DIR}/consumer.c ${pcflags} -Wl,-rpath,${prefix}/lib -o ${work}/consumer_pc)
  run(${work}/consumer_pc)
else()
  message(FATAL_ERROR "pkg-config is missing")
endif()

# find_package(Ostrel)
file(MAKE_DIRECTORY ${work}/pkg)
configure_file(${SOURCE_DIR}/CMakeLists.txt.in ${work}/pkg/CMakeLists.txt COPYONLY)
configure_file(${SOURCE_DIR}/consumer.c ${work}/pkg/consumer.c COPYONLY)
list(JOIN flags " " cflags)
run(${CMAKE_COMMAND} -S ${work}/pkg -B ${work}/pkg/build -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_C_COMPILER=${C_COMPILER} "-DCMAKE_C_FLAGS=${cflags}" -DCMAKE_BUILD_RPATH=${prefix}/lib)
run(${CMAKE_COMMAND} --build ${work}/pkg/build)
run(${work}/pkg/build/consumer)
