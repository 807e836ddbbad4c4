# Strict warnings for the project's own targets only (never for system headers).
# Warnings stop the build only where CI builds (the dev, tsan and fuzz presets
# set QUORVEL_WERROR): the release build that scripts/run makes, like a user's
# own build type, must not stop on a compiler's false report, such as g++ 12's
# -Wrestrict inside std::string at -O3.
option(QUORVEL_WERROR "Treat warnings of the project's own code as errors" OFF)
function(quorvel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-missing-field-initializers)
  if(QUORVEL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
