# Installs the build tree into a fresh prefix, then configures, builds and runs
# the consumer project against that prefix alone.
#
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DCONSUMER_DIR=... -DVERSION=...
#         -DGENERATOR=... [-DMAKE_PROGRAM=...] [-DCONFIG=...] -DCXX=...
#         [-DCXX_FLAGS=...] [-DLINKER_FLAGS=...] -P consumer_check.cmake
#
# The consumer is built with the build's compiler and flags: the installed
# library is static, so sanitizer or other instrumentation in it needs the
# same at link time.

include(${CMAKE_CURRENT_LIST_DIR}/check_support.cmake)
require_vars(consumer_check.cmake BUILD_DIR WORK_DIR CONSUMER_DIR VERSION GENERATOR CXX)

# A DESTDIR from the caller's environment would send the files elsewhere.
unset(ENV{DESTDIR})
set(prefix ${WORK_DIR}/prefix)
set(consumer_build ${WORK_DIR}/build)
file(REMOVE_RECURSE ${WORK_DIR})

set(config_args)
if(CONFIG)
  set(config_args --config ${CONFIG})
endif()
run("cmake --install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} ${config_args})

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
