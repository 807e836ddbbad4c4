# Fails when a header under comm/ is missing from the umbrella header, so the
# application's one include keeps reaching everything the library offers.
# Usage: cmake -DCOMM_DIR=<comm> -P CheckUmbrella.cmake
file(GLOB_RECURSE headers RELATIVE ${COMM_DIR} ${COMM_DIR}/*.h)
list(REMOVE_ITEM headers ostrelcomm.h)
file(READ ${COMM_DIR}/ostrelcomm.h umbrella)
set(missing "")
foreach(h IN LISTS headers)
  string(FIND "${umbrella}" "#include \"${h}\"" pos)
  if(pos EQUAL -1)
    list(APPEND missing ${h})
  endif()
endforeach()
if(missing)
  list(JOIN missing "\n  " text)
  message(FATAL_ERROR "comm/ostrelcomm.h does not include:\n  ${text}")
endif()
