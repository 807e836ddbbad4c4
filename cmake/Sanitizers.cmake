# QUORVEL_SANITIZE applies to every target of the build, so that the whole
# process (library, server and tests) is instrumented alike.
if(QUORVEL_SANITIZE STREQUAL "address,undefined")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(QUORVEL_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(QUORVEL_SANITIZE STREQUAL "fuzzer")
  # Coverage instrumentation everywhere; libFuzzer's main only in fuzz_* programs.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(NOT QUORVEL_SANITIZE STREQUAL "")
  message(FATAL_ERROR "Unknown QUORVEL_SANITIZE value: ${QUORVEL_SANITIZE}")
endif()
