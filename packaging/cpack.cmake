# Debian package settings: `make package` (or cpack -G DEB in the build tree)
# builds boolconv_<version>_<arch>.deb with both programs, the menu entry,
# icon and man page, and the engine library with its headers and CMake package.

# Values reach cpack exactly as written here (regular expressions included).
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME boolconv)
# The version is the top-level project's, like boolconv-cli --version.
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Seed 4a2c966b maintainers <maintainers@users.noreply.c-seed-4a2c966b.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# Debian shows the long description as written; lines are kept short.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Converts a Boolean search expression (words, quoted phrases, the\n"
       "operators and, or, not in any letter case, and parentheses) into the\n"
       "operator form, with AND written out and every group in parentheses, and\n"
       "the sign form, with + and - marks.\n"
       "\n"
       "Contains the window boolconv, the command-line tool boolconv-cli, and\n"
       "the conversion library with its headers and CMake package configuration.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# Installed programs carry no debugging information, as Debian ships them.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# dpkg-shlibdeps derives the library dependencies (Qt, libstdc++, libc) from
# the binaries, with the versions of the libraries built against.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TARGET boolconv)
  # Qt loads its display plugins at run time, so no linked library names
  # them, and Debian's Qt GUI library only recommends them; without them the
  # window cannot open.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
  # The Wayland plugin is Qt's separate package; without it the window
  # opens only through X (XWayland on a Wayland desktop).
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-wayland)
endif()

# `make package_source` must not sweep up build trees and fuzzing output.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\.git/" "/build[^/]*/" "/fuzz/artifacts/" "\\.deb$")

include(CPack)
