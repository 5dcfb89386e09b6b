# Builds the Debian package from the build tree with cpack and checks what it
# holds: the programs, the menu entry, icon and man page, the library's CMake
# package, the licence as Debian's copyright file, the version, and the Qt
# runtime dependencies.
#
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DVERSION=... -DWITH_UI=ON|OFF -DBINDIR=...
#         -DLIBDIR=... -DDATADIR=... -DDOCDIR=... -DMANDIR=... -P package_check.cmake

include(${CMAKE_CURRENT_LIST_DIR}/check_support.cmake)
require_vars(package_check.cmake BUILD_DIR WORK_DIR VERSION WITH_UI BINDIR LIBDIR DATADIR DOCDIR
             MANDIR)

get_filename_component(cmake_dir ${CMAKE_COMMAND} DIRECTORY)
find_program(CPACK cpack HINTS ${cmake_dir} REQUIRED)
find_program(DPKG_DEB dpkg-deb REQUIRED)

# The package goes to a directory of its own, so a concurrent `make package`
# in the same build tree neither sees nor disturbs it.
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
unset(ENV{DESTDIR})
run("cpack" ${CPACK} -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${WORK_DIR})
file(GLOB debs ${WORK_DIR}/*.deb)
list(LENGTH debs count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one .deb in ${WORK_DIR}, found: ${debs}")
endif()
message(STATUS "package: ${debs}")

run("dpkg-deb -c" ${DPKG_DEB} -c ${debs})
set(listing "${run_output}")
set(expected
    usr/${BINDIR}/boolconv-cli
    usr/${MANDIR}/man1/boolconv-cli.1
    usr/include/boolconv/conversion/boolfuncs.h
    usr/include/boolconv/textfuncs/funclib.h
    usr/${LIBDIR}/cmake/boolconv/boolconvConfig.cmake
    usr/${LIBDIR}/cmake/boolconv/boolconvConfigVersion.cmake
    usr/${LIBDIR}/cmake/boolconv/boolconvTargets.cmake
    usr/${LIBDIR}/cmake/boolconv/LICENSE
    usr/${DOCDIR}/copyright)
if(WITH_UI)
  list(APPEND expected usr/${BINDIR}/boolconv usr/${DATADIR}/applications/boolconv.desktop
       usr/${DATADIR}/icons/hicolor/scalable/apps/boolconv.svg)
endif()
set(missing)
foreach(path ${expected})
  # dpkg-deb lists "./usr/..."; the man page may be compressed.
  string(REPLACE "." "\\." pattern "${path}")
  if(NOT listing MATCHES " \\./${pattern}(\\.gz)?\n")
    list(APPEND missing ${path})
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "missing from the package: ${missing}\nlisting:\n${listing}")
endif()

# Control fields: the one project version, and dependencies on the Qt
# libraries the window links (found by dpkg-shlibdeps) and its display
# plugins, the Wayland one recommended.
run("dpkg-deb -f" ${DPKG_DEB} -f ${debs} Package Version Depends Recommends)
set(control "${run_output}")
message(STATUS "control fields:\n${control}")
if(NOT control MATCHES "Package: boolconv\n")
  message(FATAL_ERROR "wrong package name:\n${control}")
endif()
if(NOT control MATCHES "Version: ${VERSION}\n")
  message(FATAL_ERROR "package version is not ${VERSION}:\n${control}")
endif()
set(dependencies libc6 libstdc\\+\\+6)
if(WITH_UI)
  list(APPEND dependencies libqt6core6 libqt6widgets6 qt6-qpa-plugins)
endif()
foreach(dependency ${dependencies})
  if(NOT control MATCHES "Depends:[^\n]*[ ,]${dependency}[ ,\n]")
    message(FATAL_ERROR "Depends lacks ${dependency}:\n${control}")
  endif()
endforeach()
if(WITH_UI AND NOT control MATCHES "Recommends: qt6-wayland\n")
  message(FATAL_ERROR "Recommends lacks qt6-wayland:\n${control}")
endif()

# The installed files themselves: a valid desktop entry whose Exec= and Icon=
# name what the package installs, and a man page that renders without warnings.
set(root ${WORK_DIR}/root)
run("dpkg-deb -x" ${DPKG_DEB} -x ${debs} ${root})
if(WITH_UI)
  set(entry ${root}/usr/${DATADIR}/applications/boolconv.desktop)
  file(STRINGS ${entry} exec_line REGEX "^Exec=")
  file(STRINGS ${entry} icon_line REGEX "^Icon=")
  string(REGEX REPLACE "^Exec=([^ ]*).*" "\\1" exec_name "${exec_line}")
  string(REGEX REPLACE "^Icon=" "" icon_name "${icon_line}")
  if(NOT EXISTS ${root}/usr/${BINDIR}/${exec_name})
    message(FATAL_ERROR "Exec= names '${exec_name}', which the package does not install")
  endif()
  if(NOT EXISTS ${root}/usr/${DATADIR}/icons/hicolor/scalable/apps/${icon_name}.svg)
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

# Debian's copyright file holds the project's licence.
file(READ ${root}/usr/${DOCDIR}/copyright copyright)
foreach(phrase "MIT License" "Copyright (c) 2026 The boolconv developers"
        "Permission is hereby granted, free of charge,")
  string(FIND "${copyright}" "${phrase}" found_at)
  if(found_at EQUAL -1)
    message(FATAL_ERROR "usr/${DOCDIR}/copyright lacks '${phrase}':\n${copyright}")
  endif()
endforeach()

find_program(GROFF groff)
find_program(GZIP gzip)
file(GLOB man_page ${root}/usr/${MANDIR}/man1/boolconv-cli.1*)
if(GROFF AND GZIP)
  set(reader cat)
  if(man_page MATCHES "\\.gz$")
    set(reader ${GZIP} -dc)
  endif()
  execute_process(COMMAND ${reader} ${man_page} COMMAND ${GROFF} -man -Tutf8 -ww -z
                  RESULTS_VARIABLE results ERROR_VARIABLE err)
  if(NOT results STREQUAL "0;0" OR NOT err STREQUAL "")
    message(FATAL_ERROR "the man page does not render cleanly (${results}):\n${err}")
  endif()
else()
  message(STATUS "groff or gzip not found; man page not rendered")
endif()
