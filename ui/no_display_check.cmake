# Runs PROGRAM where the window cannot open: no display configured, an X
# display that nobody serves, and a Wayland display without Qt's Wayland
# plugin. Each time it must exit with status 1 (not abort with a core dump),
# print nothing on standard output and one line on standard error that names
# the display and points to the command-line tool.
#
#   cmake -DPROGRAM=... -DPLATFORM_PLUGIN_DIR=... -P no_display_check.cmake

foreach(var PROGRAM PLATFORM_PLUGIN_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "no_display_check.cmake: ${var} is not set")
  endif()
endforeach()

# An X display number with neither a server socket nor a lock file.
set(free_display 99)
while(EXISTS /tmp/.X11-unix/X${free_display} OR EXISTS /tmp/.X${free_display}-lock)
  math(EXPR free_display "${free_display} + 1")
endwhile()

# Without the plugin the sentence must say what to install.
file(GLOB wayland_plugins ${PLATFORM_PLUGIN_DIR}/libqwayland*.so)
set(wayland_hint "qt6-wayland")
if(wayland_plugins)
  set(wayland_hint "")
endif()

# Runs PROGRAM with the display settings NAME=VALUE in ARGN (on top of none)
# and checks the refusal; stderr must contain `expected`. The settings go
# into this script's environment, not through `cmake -E env`, which would
# turn a crash into exit status 1.
function(expect_refusal name expected)
  foreach(setting DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM XDG_SESSION_TYPE)
    unset(ENV{${setting}})
  endforeach()
  foreach(setting ${ARGN})
    string(REGEX MATCH "^([^=]*)=(.*)$" setting "${setting}")
    set(ENV{${CMAKE_MATCH_1}} "${CMAKE_MATCH_2}")
  endforeach()
  execute_process(
    COMMAND ${PROGRAM}
    RESULT_VARIABLE result
    OUTPUT_VARIABLE out
    ERROR_VARIABLE err
    TIMEOUT 20)
  string(STRIP "${err}" line)
  if(NOT result STREQUAL "1")
    message(FATAL_ERROR "${name}: expected exit status 1, got '${result}'; stderr:\n${err}")
  endif()
  if(line MATCHES "\n")
    message(FATAL_ERROR "${name}: expected one line on stderr, got:\n${err}")
  endif()
  string(FIND "${line}" "${expected}" expected_at)
  string(FIND "${line}" "use boolconv-cli" cli_at)
  if(expected_at EQUAL -1 OR cli_at EQUAL -1)
    message(FATAL_ERROR "${name}: stderr lacks '${expected}' or 'use boolconv-cli': '${line}'")
  endif()
  if(NOT out STREQUAL "")
    message(FATAL_ERROR "${name}: expected nothing on stdout, got: '${out}'")
  endif()
  message(STATUS "${name}: exit ${result}: ${line}")
endfunction()

expect_refusal("no display" "neither DISPLAY nor WAYLAND_DISPLAY is set")
expect_refusal("X display not served" "DISPLAY=:${free_display}" DISPLAY=:${free_display})
# Qt tries Wayland first when WAYLAND_DISPLAY is set, or when asked by name.
expect_refusal("Wayland display" "${wayland_hint}"
               WAYLAND_DISPLAY=boolconv-test-none XDG_SESSION_TYPE=wayland)
expect_refusal("Wayland platform by name" "${wayland_hint}" QT_QPA_PLATFORM=wayland)
