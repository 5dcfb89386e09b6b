# Debian package settings: `make package` (or cpack -G DEB in the build tree)
# builds one package per install component, each named after it:
#
#   boolconv_<version>_<arch>.deb         the window, its menu entry, icon and man page
#   boolconv-cli_<version>_<arch>.deb     the command-line tool and its man page; no Qt
#   libboolconv-dev_<version>_<arch>.deb  the static libraries, headers, CMake package
#                                         and pkg-config file
#
# Each holds its copyright and changelog in /usr/share/doc/<package>.

# Values reach cpack exactly as written here (regular expressions included).
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME boolconv)
# The version is the top-level project's, like boolconv-cli --version, and
# the top entry of packaging/changelog.
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Seed 4a2c966b maintainers <maintainers@users.noreply.c-seed-4a2c966b.example>")
# The first line of every package's description; each package's own text
# (below) follows it.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# Installed programs carry no debugging information, as Debian ships them.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# dpkg-shlibdeps derives each package's library dependencies (Qt for the
# window, libstdc++ and libc for both programs) from its binaries, with the
# versions of the libraries built against. The libraries' package holds no
# program, so it has none.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# What every description says after its first line, before the package's own
# paragraph. Debian shows long descriptions as written; lines are kept short.
string(CONCAT description_common
       "Converts a Boolean search expression (words, quoted phrases, the\n"
       "operators and, or, not in any letter case, and parentheses) into the\n"
       "operator form, with AND written out and every group in parentheses, and\n"
       "the sign form, with + and - marks.\n"
       "\n")

# Component names are package names, so each package's variables are named
# after the package in capitals (CPACK_DEBIAN_BOOLCONV-CLI_...).
set(CPACK_DEBIAN_BOOLCONV_PACKAGE_NAME boolconv)
set(CPACK_DEBIAN_BOOLCONV_PACKAGE_SECTION utils)
string(CONCAT CPACK_DEBIAN_BOOLCONV_DESCRIPTION "${description_common}"
       "This package contains the window boolconv: an expression typed into\n"
       "it converts at the press of a button, and warnings show in message\n"
       "boxes.")
# Qt's X11 display plugin, and the offscreen one, come with Debian's Qt GUI
# library, which dpkg-shlibdeps finds. The Wayland plugin is Qt's separate
# package; without it the window opens only through X (XWayland on a
# Wayland desktop). The command-line tool is what the window points to when
# it cannot open.
set(CPACK_DEBIAN_BOOLCONV_PACKAGE_RECOMMENDS "qt6-wayland, boolconv-cli")

set(CPACK_DEBIAN_BOOLCONV-CLI_PACKAGE_NAME boolconv-cli)
set(CPACK_DEBIAN_BOOLCONV-CLI_PACKAGE_SECTION utils)
string(CONCAT CPACK_DEBIAN_BOOLCONV-CLI_DESCRIPTION "${description_common}"
       "This package contains the command-line tool boolconv-cli, which\n"
       "converts expressions given as arguments or one per line of standard\n"
       "input, writes text or JSON Lines, and can check and tidy strategies\n"
       "pasted from documents. It needs no graphical libraries.")

set(CPACK_DEBIAN_LIBBOOLCONV-DEV_PACKAGE_NAME libboolconv-dev)
set(CPACK_DEBIAN_LIBBOOLCONV-DEV_PACKAGE_SECTION libdevel)
string(CONCAT CPACK_DEBIAN_LIBBOOLCONV-DEV_DESCRIPTION "${description_common}"
       "This package contains the conversion library for C++ programs: static\n"
       "libraries and headers, a CMake package configuration for\n"
       "find_package(boolconv) and the target boolconv::engine, and a pkg-config\n"
       "file for pkg-config --cflags --libs boolconv.")

# The Python package, made for one Python version: Debian's policy for an
# extension module asks for that version of python3 and no later one;
# dpkg-shlibdeps adds the C and C++ libraries.
if(BOOLCONV_PYTHON_VERSION)
  set(CPACK_DEBIAN_PYTHON3-BOOLCONV_PACKAGE_NAME python3-boolconv)
  set(CPACK_DEBIAN_PYTHON3-BOOLCONV_PACKAGE_SECTION python)
  string(REGEX REPLACE "^([0-9]+)\\.([0-9]+)$" "\\1.\\2" python_now "${BOOLCONV_PYTHON_VERSION}")
  string(REGEX REPLACE "^([0-9]+)\\.([0-9]+)$" "\\2" python_minor "${BOOLCONV_PYTHON_VERSION}")
  math(EXPR python_next "${python_minor} + 1")
  string(REGEX REPLACE "^([0-9]+)\\..*" "\\1.${python_next}" python_next "${BOOLCONV_PYTHON_VERSION}")
  set(CPACK_DEBIAN_PYTHON3-BOOLCONV_PACKAGE_DEPENDS
      "python3 (>= ${python_now}~), python3 (<< ${python_next})")
  string(CONCAT CPACK_DEBIAN_PYTHON3-BOOLCONV_DESCRIPTION "${description_common}"
         "This package contains the Python 3 module boolconv: convert, check,\n"
         "tidy and explain expressions, read numbered search histories, and\n"
         "convert large streams of expressions on several threads, with typed\n"
         "results; python3 -m boolconv converts standard input line by line.")
endif()

# `make package_source` must not sweep up build trees and fuzzing output.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\.git/" "/build[^/]*/" "/fuzz/artifacts/" "\\.deb$")

include(CPack)
