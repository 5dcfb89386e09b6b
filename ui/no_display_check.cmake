# Runs PROGRAM with no display configured and checks that it exits non-zero
# with a one-line explanation that points to the command-line tool.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY --unset=QT_QPA_PLATFORM
          ${PROGRAM}
  RESULT_VARIABLE result
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err
  TIMEOUT 20)
if(result EQUAL 0)
  message(FATAL_ERROR "expected a non-zero exit without a display, got 0")
endif()
if(NOT err MATCHES "boolconv-cli")
  message(FATAL_ERROR "stderr does not mention boolconv-cli: '${err}'")
endif()
string(STRIP "${err}" err)
if(err MATCHES "\n")
  message(FATAL_ERROR "expected one line on stderr, got: '${err}'")
endif()
if(NOT out STREQUAL "")
  message(FATAL_ERROR "expected nothing on stdout, got: '${out}'")
endif()
message(STATUS "exit ${result}: ${err}")
