# Checks the pkg-config file boolconv.pc. First, how it writes install
# folders for a set of prefixes and library folders. Then it installs the
# libraries' package component into a fresh prefix and builds a program
# (tests/consumer/pkgconfig_main.cpp) the way a project without CMake does:
# with the compiler alone and the flags `pkg-config --cflags --libs boolconv`
# prints. Then it runs the program.
#
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DSOURCE_DIR=... -DVERSION=...
#         -DLIBDIR=<relative CMAKE_INSTALL_LIBDIR> -DPKG_CONFIG=... -DCXX=...
#         [-DCXX_FLAGS=...] [-DLINKER_FLAGS=...] [-DCONFIG=...]
#         -P pkgconfig_check.cmake
#
# The program is compiled with the build's compiler and flags. The installed
# libraries may be static, so any sanitizer or other instrumentation in them
# must also be present when the program is linked.

include(${CMAKE_CURRENT_LIST_DIR}/check_support.cmake)
require_vars(pkgconfig_check.cmake BUILD_DIR WORK_DIR SOURCE_DIR VERSION LIBDIR PKG_CONFIG CXX)
include(${SOURCE_DIR}/packaging/pkgconfig.cmake)

# Fails unless `got` is `expected`.
function(expect what got expected)
  if(NOT got STREQUAL expected)
    message(FATAL_ERROR "${what}: got '${got}', expected '${expected}'")
  endif()
endfunction()

# Folders as boolconv.pc writes them: folder | prefix | written. A folder
# within the prefix goes through ${prefix}, relative or absolute. A folder
# that only shares the prefix's leading characters does not. No folder goes
# through the root prefix. Spaces are escaped.
set(cases
    "lib/x86_64-linux-gnu|/usr|\${prefix}/lib/x86_64-linux-gnu"
    "include|/opt/bc|\${prefix}/include"
    "/opt/bc/lib64|/opt/bc|\${prefix}/lib64"
    "/opt/bc/lib/|/opt/bc|\${prefix}/lib"
    "lib/../lib64|/opt/bc|\${prefix}/lib64"
    "/opt/bc|/opt/bc|\${prefix}"
    "/opt/bc2/lib|/opt/bc|/opt/bc2/lib"
    "/srv/lib|/opt/bc|/srv/lib"
    "include|/|/include"
    "/home/a b/lib|/home/a b|\${prefix}/lib"
    "/srv/my libs|/usr|/srv/my\\ libs")
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" fields "${case}")
  list(GET fields 0 dir)
  list(GET fields 1 prefix)
  list(GET fields 2 expected)
  boolconv_pc_path("${dir}" "${prefix}" written)
  expect("folder ${dir} under prefix ${prefix}" "${written}" "${expected}")
endforeach()

# The install: the libraries' component alone, as its Debian package holds
# it. The prefix is given relative to the install's folder and has a space,
# so the file must make it absolute and escape the space.
unset(ENV{DESTDIR})
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(prefix "${WORK_DIR}/pkg prefix")
set(config_args)
if(CONFIG)
  set(config_args --config ${CONFIG})
endif()
run("cmake --install"
    ${CMAKE_COMMAND} -E chdir ${WORK_DIR}
    ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix "pkg prefix" --component libboolconv-dev
    ${config_args})
set(pc_dir "${prefix}/${LIBDIR}/pkgconfig")
if(NOT EXISTS "${pc_dir}/boolconv.pc")
  message(FATAL_ERROR "boolconv.pc is not in ${pc_dir}:\n${run_output}")
endif()

# Only the fresh prefix may supply boolconv.pc. PKG_CONFIG_LIBDIR replaces
# the default search folders, so a copy installed on the machine cannot
# stand in for a missing or broken one. PKG_CONFIG_PATH comes first in the
# search, so it must not name other folders. A sysroot would be put in
# front of every path.
set(ENV{PKG_CONFIG_LIBDIR} "${pc_dir}")
set(ENV{PKG_CONFIG_PATH} "${pc_dir}")
unset(ENV{PKG_CONFIG_SYSROOT_DIR})

# Runs pkg-config with the arguments given and sets `out_var` to what it
# prints, without trailing white space.
function(pkg_config out_var)
  run("pkg-config ${ARGN}" ${PKG_CONFIG} ${ARGN})
  string(STRIP "${run_output}" out)
  set(${out_var} "${out}" PARENT_SCOPE)
endfunction()

# pkg-config prints paths with their spaces escaped, its own pcfiledir too.
string(REPLACE " " "\\ " escaped "${prefix}")
run("pkg-config --validate" ${PKG_CONFIG} --validate boolconv)
pkg_config(found_in --variable=pcfiledir boolconv)
expect("the folder boolconv.pc was found in" "${found_in}" "${escaped}/${LIBDIR}/pkgconfig")
pkg_config(version --modversion boolconv)
expect("--modversion" "${version}" "${VERSION}")

# The libraries in link order: the text functions after both their users.
set(names "-lboolconv_diagnostics -lboolconv_engine -lboolconv_textfuncs")
set(libs "-L${escaped}/${LIBDIR} ${names}")
set(cflags "-I${escaped}/include/boolconv")
set(fields
    "--variable=prefix|${escaped}"
    "--variable=libdir|${escaped}/${LIBDIR}"
    "--variable=includedir|${escaped}/include"
    "--cflags|${cflags}"
    "--libs|${libs}"
    # Nothing more for static linking: no private fields.
    "--libs --static|${libs}")
foreach(field IN LISTS fields)
  string(REPLACE "|" ";" parts "${field}")
  list(GET parts 0 option)
  list(GET parts 1 expected)
  separate_arguments(option UNIX_COMMAND "${option}")
  pkg_config(got ${option} boolconv)
  expect("pkg-config ${option}" "${got}" "${expected}")
endforeach()

# Every folder follows the prefix, so the file still serves when the tree is
# moved and pkg-config is told the new prefix.
pkg_config(moved --define-variable=prefix=/elsewhere --cflags --libs boolconv)
expect("--cflags --libs with prefix /elsewhere" "${moved}"
       "-I/elsewhere/include/boolconv -L/elsewhere/${LIBDIR} ${names}")

# A program built in one step with the flags from pkg-config. The flags
# carry no -std (the program chooses its standard), so -std=c++20 is added
# here.
pkg_config(pc_flags --cflags --libs boolconv)
separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
separate_arguments(cxx_flags UNIX_COMMAND "${CXX_FLAGS}")
separate_arguments(linker_flags UNIX_COMMAND "${LINKER_FLAGS}")
set(program ${WORK_DIR}/consumer)
run("building tests/consumer/pkgconfig_main.cpp with pkg-config's flags"
    ${CXX} ${cxx_flags} -std=c++20 ${SOURCE_DIR}/tests/consumer/pkgconfig_main.cpp ${pc_flags}
    ${linker_flags} -o ${program})
run("running the program" ${program})
expect("the program's output" "${run_output}" "(a AND b or c)\n(+a +b c)\nleading-operator 0-3\n")
