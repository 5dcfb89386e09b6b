# Builds the Debian packages from the build tree with cpack and checks them:
# the files of each (no file in two packages, which dpkg would refuse), one
# version, the dependencies (the window's on Qt; none on Qt for the
# command-line tool, whose binary must not link Qt either), the folders in
# the pkg-config file, the desktop entry, manual pages, copyright files and
# changelogs, and finally lintian, which must report no error and no
# warning.
#
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DVERSION=... -DWITH_UI=ON|OFF
#         -DMULTIARCH=<e.g. x86_64-linux-gnu>
#         [-DPYTHON_MODULE=<native module file> -DPYTHON_VERSION=3.X [-DPYTHON=<python>]]
#         -P package_check.cmake
#
# With PYTHON_MODULE the package python3-boolconv is expected too; with
# PYTHON, the module unpacked from it must import and convert.
#
# Paths are those Debian prescribes, whatever the build's install folders.

include(${CMAKE_CURRENT_LIST_DIR}/check_support.cmake)
require_vars(package_check.cmake BUILD_DIR WORK_DIR VERSION WITH_UI MULTIARCH)

get_filename_component(cmake_dir ${CMAKE_COMMAND} DIRECTORY)
find_program(CPACK cpack HINTS ${cmake_dir} REQUIRED)
find_program(DPKG_DEB dpkg-deb REQUIRED)
find_program(READELF readelf REQUIRED)
find_program(GZIP gzip REQUIRED)
find_program(LINTIAN lintian REQUIRED)

# What each package must hold, besides its copyright and changelog.
set(lib usr/lib/${MULTIARCH})
set(packages boolconv-cli libboolconv-dev)
set(files_boolconv-cli usr/bin/boolconv-cli usr/share/man/man1/boolconv-cli.1.gz)
set(files_libboolconv-dev
    usr/include/boolconv/conversion/boolfuncs.h
    usr/include/boolconv/diagnostics/diagnostics.h
    usr/include/boolconv/textfuncs/funclib.h
    ${lib}/libboolconv_engine.a
    ${lib}/libboolconv_textfuncs.a
    ${lib}/libboolconv_diagnostics.a
    ${lib}/cmake/boolconv/boolconvConfig.cmake
    ${lib}/cmake/boolconv/boolconvConfigVersion.cmake
    ${lib}/cmake/boolconv/boolconvTargets.cmake
    ${lib}/cmake/boolconv/LICENSE
    ${lib}/pkgconfig/boolconv.pc)
if(PYTHON_MODULE)
  list(APPEND packages python3-boolconv)
  set(python_dir usr/lib/python3/dist-packages/boolconv)
  set(files_python3-boolconv ${python_dir}/__init__.py ${python_dir}/__main__.py
      ${python_dir}/_errors.py ${python_dir}/_boolconv.pyi ${python_dir}/py.typed
      ${python_dir}/${PYTHON_MODULE})
endif()
if(WITH_UI)
  list(APPEND packages boolconv)
  set(files_boolconv usr/bin/boolconv usr/share/man/man1/boolconv.1.gz
      usr/share/applications/boolconv.desktop
      usr/share/icons/hicolor/scalable/apps/boolconv.svg)
endif()

# The packages go to a directory of their own, so a concurrent `make package`
# in the same build tree neither sees nor disturbs them.
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
unset(ENV{DESTDIR})
run("cpack" ${CPACK} -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${WORK_DIR})
file(GLOB debs ${WORK_DIR}/*.deb)

# Exactly one .deb per package, of this version: a file installed without
# a component would make a package of its own.
set(made)
foreach(deb ${debs})
  get_filename_component(name ${deb} NAME)
  if(NOT name MATCHES "^([^_]+)_${VERSION}_[^_]+\\.deb$")
    message(FATAL_ERROR "unexpected package file ${name} (version ${VERSION} expected)")
  endif()
  list(APPEND made ${CMAKE_MATCH_1})
  set(deb_${CMAKE_MATCH_1} ${deb})
endforeach()
list(SORT made)
list(SORT packages)
if(NOT made STREQUAL packages)
  message(FATAL_ERROR "cpack made packages '${made}', expected '${packages}'")
endif()

set(root ${WORK_DIR}/root)
# Every file of every package, and the package it is in.
set(owned_paths)
set(owners)
foreach(package ${packages})
  set(deb ${deb_${package}})
  run("dpkg-deb -c ${package}" ${DPKG_DEB} -c ${deb})
  set(listing "${run_output}")
  set(missing)
  foreach(path ${files_${package}} usr/share/doc/${package}/copyright
          usr/share/doc/${package}/changelog.gz)
    string(REPLACE "." "\\." pattern "${path}")
    if(NOT listing MATCHES " \\./${pattern}\n")
      list(APPEND missing ${path})
    endif()
  endforeach()
  if(missing)
    message(FATAL_ERROR "missing from ${package}: ${missing}\nlisting:\n${listing}")
  endif()
  string(REGEX MATCHALL " \\./[^\n]*[^/\n]\n" package_files "${listing}")
  foreach(entry ${package_files})
    string(REGEX REPLACE "^ \\./|\n$" "" path "${entry}")
    list(FIND owned_paths ${path} at)
    if(NOT at EQUAL -1)
      list(GET owners at owner)
      message(FATAL_ERROR "${path} is in both ${owner} and ${package}")
    endif()
    list(APPEND owned_paths ${path})
    list(APPEND owners ${package})
  endforeach()

  run("dpkg-deb -f ${package}" ${DPKG_DEB} -f ${deb} Depends Pre-Depends Recommends)
  set(control_${package} "\n${run_output}")
  message(STATUS "${package} (${deb}):\n${run_output}")

  # All packages unpacked into one tree, as when all are installed.
  run("dpkg-deb -x ${package}" ${DPKG_DEB} -x ${deb} ${root})

  # Debian's copyright file holds the project's licence; the changelog's
  # latest entry is this version's.
  file(READ ${root}/usr/share/doc/${package}/copyright copyright)
  foreach(phrase "MIT License" "Copyright (c) 2026 The boolconv developers"
          "Permission is hereby granted, free of charge,")
    string(FIND "${copyright}" "${phrase}" found_at)
    if(found_at EQUAL -1)
      message(FATAL_ERROR "${package}: the copyright file lacks '${phrase}'")
    endif()
  endforeach()
  run("gzip -dc changelog" ${GZIP} -dc ${root}/usr/share/doc/${package}/changelog.gz)
  if(NOT run_output MATCHES "^boolconv \\(${VERSION}\\) ")
    string(REGEX MATCH "^[^\n]*" top "${run_output}")
    message(FATAL_ERROR "${package}: the changelog's latest entry is not ${VERSION}: ${top}")
  endif()
endforeach()

# Dependencies: the window's Qt libraries, found by dpkg-shlibdeps, with the
# Wayland plugin recommended; the tool and the libraries need no Qt.
set(depends_boolconv libc6 libstdc\\+\\+6 libqt6core6 libqt6gui6 libqt6widgets6)
set(depends_boolconv-cli libc6 libstdc\\+\\+6)
# The Python package: its Python version and no later one, as Debian's
# policy for extension modules asks.
string(REPLACE "." "\\." python_version "${PYTHON_VERSION}")
set(depends_python3-boolconv libc6 libstdc\\+\\+6 "python3 \\(>= ${python_version}~\\)"
    "python3 \\(<< [0-9.]+\\)")
foreach(package ${packages})
  foreach(dependency ${depends_${package}})
    if(NOT control_${package} MATCHES "\nDepends:[^\n]*[ ,]${dependency}[ ,\n]")
      message(FATAL_ERROR "${package}: Depends lacks ${dependency}")
    endif()
  endforeach()
endforeach()
if(WITH_UI AND NOT control_boolconv MATCHES "\nRecommends:[^\n]* qt6-wayland[,\n]")
  message(FATAL_ERROR "boolconv: Recommends lacks qt6-wayland")
endif()
foreach(package boolconv-cli libboolconv-dev)
  if(control_${package} MATCHES "qt")
    message(FATAL_ERROR "${package} depends on Qt:\n${control_${package}}")
  endif()
endforeach()

# Nor does the tool's binary load a Qt library itself. The C library among
# its entries shows that they were read.
run("readelf -d boolconv-cli" ${READELF} -d ${root}/usr/bin/boolconv-cli)
string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*" needed "${run_output}")
if(NOT needed MATCHES "libc\\.so\\.6" OR needed MATCHES "Qt")
  message(FATAL_ERROR "boolconv-cli's NEEDED entries:\n${needed}")
endif()

# The Python module, as unpacked from its package, imports and converts.
if(PYTHON)
  # Lines, not ";": the code passes through a CMake list.
  run("importing the packaged module" ${CMAKE_COMMAND} -E env --unset=PYTHONPATH ${PYTHON} -c
      "import sys
sys.path.insert(0, '${root}/usr/lib/python3/dist-packages')
import boolconv
assert boolconv.__file__.startswith('${root}'), boolconv.__file__
print(boolconv.convert('a b or c').sign_form)")
  if(NOT run_output STREQUAL "(+a +b c)\n")
    message(FATAL_ERROR "the packaged module converts 'a b or c' to '${run_output}'")
  endif()
endif()

# The static libraries ship without debugging information, most of their
# size, but with their symbols.
foreach(library engine textfuncs diagnostics)
  run("readelf -S ${library}" ${READELF} -S -W ${root}/${lib}/libboolconv_${library}.a)
  if(run_output MATCHES "\\.debug_info" OR NOT run_output MATCHES "\\.symtab")
    message(FATAL_ERROR "libboolconv_${library}.a is not stripped of debugging information only")
  endif()
endforeach()

# boolconv.pc names the folders the package installs to, not those it was
# staged in.
file(STRINGS ${root}/${lib}/pkgconfig/boolconv.pc pc_folders REGEX "^(prefix|libdir|includedir)=")
set(expected_folders "prefix=/usr" "libdir=\${prefix}/lib/${MULTIARCH}" "includedir=\${prefix}/include")
if(NOT pc_folders STREQUAL expected_folders)
  message(FATAL_ERROR "boolconv.pc's folders are '${pc_folders}', expected '${expected_folders}'")
endif()

# A valid desktop entry whose Exec= and Icon= name what the package installs.
if(WITH_UI)
  set(entry ${root}/usr/share/applications/boolconv.desktop)
  file(STRINGS ${entry} exec_line REGEX "^Exec=")
  file(STRINGS ${entry} icon_line REGEX "^Icon=")
  string(REGEX REPLACE "^Exec=([^ ]*).*" "\\1" exec_name "${exec_line}")
  string(REGEX REPLACE "^Icon=" "" icon_name "${icon_line}")
  if(NOT EXISTS ${root}/usr/bin/${exec_name})
    message(FATAL_ERROR "Exec= names '${exec_name}', which the package does not install")
  endif()
  if(NOT EXISTS ${root}/usr/share/icons/hicolor/scalable/apps/${icon_name}.svg)
    message(FATAL_ERROR "Icon= names '${icon_name}', which the package does not install")
  endif()
  find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
  if(DESKTOP_FILE_VALIDATE)
    # Hints (such as two main categories, asked for on purpose) are fine;
    # errors and warnings are not.
    execute_process(COMMAND ${DESKTOP_FILE_VALIDATE} ${entry} RESULT_VARIABLE result
                    OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT result EQUAL 0 OR out MATCHES "(error|warning):")
      message(FATAL_ERROR "desktop-file-validate:\n${out}")
    endif()
  else()
    message(STATUS "desktop-file-validate not found; desktop entry not validated")
  endif()
endif()

# Every manual page renders without warnings.
find_program(GROFF groff)
file(GLOB man_pages ${root}/usr/share/man/man1/*.1.gz)
if(GROFF)
  foreach(man_page ${man_pages})
    execute_process(COMMAND ${GZIP} -dc ${man_page} COMMAND ${GROFF} -man -Tutf8 -ww -z
                    RESULTS_VARIABLE results ERROR_VARIABLE err)
    if(NOT results STREQUAL "0;0" OR NOT err STREQUAL "")
      message(FATAL_ERROR "${man_page} does not render cleanly (${results}):\n${err}")
    endif()
  endforeach()
else()
  message(STATUS "groff not found; manual pages not rendered")
endif()

# lintian, Debian's own check of packages, on all of them at once.
execute_process(COMMAND ${LINTIAN} --fail-on error,warning ${debs} RESULT_VARIABLE result
                OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT result EQUAL 0 OR out MATCHES "(^|\n)[EW]: ")
  message(FATAL_ERROR "lintian (${result}):\n${out}${err}")
endif()
