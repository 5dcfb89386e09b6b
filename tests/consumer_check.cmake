# Installs a build tree into a fresh prefix, then configures, builds and runs
# the consumer project against that prefix alone.
#
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DCONSUMER_DIR=... -DVERSION=...
#         -DGENERATOR=... [-DMAKE_PROGRAM=...] [-DCONFIG=...] -DCXX=...
#         [-DCXX_FLAGS=...] [-DLINKER_FLAGS=...]
#         [-DSHARED_FROM=<source dir> -DMAKE=... -DWERROR=ON|OFF]
#         -P consumer_check.cmake
#
# The consumer is built with the build's compiler and flags: the installed
# library may be static, so sanitizer or other instrumentation in it needs
# the same at link time.
#
# With SHARED_FROM the tree installed is not BUILD_DIR but a shared-library
# build of the engine and boolconv-cli made here from that source: configured
# by plain CMake (its default generator), then built through the project's
# Makefile, which must keep that generator. The installed boolconv-cli must
# then run on its own, with the build tree gone.

include(${CMAKE_CURRENT_LIST_DIR}/check_support.cmake)
require_vars(consumer_check.cmake BUILD_DIR WORK_DIR CONSUMER_DIR VERSION GENERATOR CXX)

# A DESTDIR from the caller's environment would send the files elsewhere.
unset(ENV{DESTDIR})
set(prefix ${WORK_DIR}/prefix)
set(consumer_build ${WORK_DIR}/build)
file(REMOVE_RECURSE ${WORK_DIR})

if(SHARED_FROM)
  require_vars(consumer_check.cmake MAKE WERROR)
  set(BUILD_DIR ${WORK_DIR}/shared-build)
  # Plain CMake with its own default generator (Unix Makefiles). Configured
  # for /usr, the libraries go to Debian's multiarch folder, so the
  # programs' path to them has more than one step.
  unset(ENV{CMAKE_GENERATOR})
  run("configuring the shared build"
      ${CMAKE_COMMAND} -S ${SHARED_FROM} -B ${BUILD_DIR} -DBUILD_SHARED_LIBS=ON
      -DBOOLCONV_BUILD_UI=OFF -DBOOLCONV_BUILD_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr
      -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_CXX_FLAGS=${CXX_FLAGS}
      -DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS} -DCMAKE_SHARED_LINKER_FLAGS=${LINKER_FLAGS})
  # A make that runs this test must not hand this one its job slots or its
  # CMAKE_ARGS.
  foreach(var MAKEFLAGS MFLAGS MAKELEVEL CMAKE_ARGS)
    unset(ENV{${var}})
  endforeach()
  run("make build in the shared build"
      ${MAKE} -C ${SHARED_FROM} build BUILD_DIR=${BUILD_DIR} WERROR=${WERROR})
endif()

set(config_args)
if(CONFIG)
  set(config_args --config ${CONFIG})
endif()
run("cmake --install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} ${config_args})

if(SHARED_FROM)
  string(REGEX MATCH "^[0-9]+" major "${VERSION}")
  file(GLOB_RECURSE sonames ${prefix}/libboolconv_engine.so.${major})
  if(NOT sonames)
    message(FATAL_ERROR "no libboolconv_engine.so.${major} under ${prefix}")
  endif()
  file(REMOVE_RECURSE ${BUILD_DIR})
  unset(ENV{LD_LIBRARY_PATH})
  run("running the installed boolconv-cli" ${prefix}/bin/boolconv-cli "a b or c")
  if(NOT run_output STREQUAL "(a AND b or c)\n(+a +b c)\n")
    message(FATAL_ERROR "the installed boolconv-cli wrote:\n${run_output}")
  endif()
endif()

set(generator_args -G ${GENERATOR})
if(MAKE_PROGRAM)
  list(APPEND generator_args -DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM})
endif()
run("configuring the consumer"
    ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${consumer_build} ${generator_args}
    -DCMAKE_PREFIX_PATH=${prefix} -DBOOLCONV_EXPECTED_VERSION=${VERSION}
    -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_CXX_FLAGS=${CXX_FLAGS}
    -DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS} -DCMAKE_BUILD_TYPE=${CONFIG}
    # Only the prefix may supply the package, not a copy installed on the
    # machine or registered by another build.
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF)

# find_package searches the prefix first, but a broken config there could
# still let a system-wide copy win; insist on the prefix.
file(STRINGS ${consumer_build}/CMakeCache.txt found_dir REGEX "^boolconv_DIR:")
string(REGEX REPLACE "^[^=]*=" "" found_dir "${found_dir}")
cmake_path(IS_PREFIX prefix "${found_dir}" NORMALIZE in_prefix)
if(NOT in_prefix)
  message(FATAL_ERROR "boolconv was found in '${found_dir}', not under ${prefix}")
endif()

run("building the consumer" ${CMAKE_COMMAND} --build ${consumer_build} ${config_args})

# Multi-config generators put the executable in a per-configuration folder.
file(GLOB_RECURSE consumer_exe LIST_DIRECTORIES false ${consumer_build}/consumer
     ${consumer_build}/*/consumer)
list(GET consumer_exe 0 consumer_exe)
run("running the consumer" ${consumer_exe})
message(STATUS "${run_output}")
