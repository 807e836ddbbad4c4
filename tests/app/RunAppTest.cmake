# Runs one application test program in an empty XDG_CONFIG_HOME (set by the
# test's environment), so that no settings file of an earlier run is read.
# Usage: cmake -DPROGRAM=<test program> -P RunAppTest.cmake
if(NOT DEFINED ENV{XDG_CONFIG_HOME} OR "$ENV{XDG_CONFIG_HOME}" STREQUAL "")
  message(FATAL_ERROR "XDG_CONFIG_HOME is not set")
endif()
file(REMOVE_RECURSE "$ENV{XDG_CONFIG_HOME}")
file(MAKE_DIRECTORY "$ENV{XDG_CONFIG_HOME}")
execute_process(COMMAND "${PROGRAM}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} ended with ${status}")
endif()
