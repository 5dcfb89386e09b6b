# Shared by the -P check scripts in this folder.

# Fails unless every named variable was passed with -D.
function(require_vars script)
  foreach(var ${ARGN})
    if(NOT DEFINED ${var})
      message(FATAL_ERROR "${script}: ${var} is not set")
    endif()
  endforeach()
endfunction()

# Runs a command; on failure stops with `what` and everything it printed.
# Its standard output is left in run_output, its errors in run_errors.
function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${what} failed (${result}):\n${out}${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
  set(run_errors "${err}" PARENT_SCOPE)
endfunction()
