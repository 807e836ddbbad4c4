# Fails when a source includes a header of a layer above its own, so the
# library's layers stay in one order:
#   platform → encoding → json → crypto → http → jobs → areas → app
# The areas have an order of their own (a login is below the accounts, the
# remote tree below the transfers and the sharing). The stand-in server and
# srp reach only the base, never the engine.
# Usage: cmake -DROOT=<source root> -P CheckLayers.cmake
cmake_minimum_required(VERSION 3.25)
set(base platform encoding json crypto)
set(engine ${base} srp filetype http jobs)
set(allowed_platform platform)
set(allowed_encoding platform encoding)
set(allowed_json platform encoding json)
set(allowed_crypto ${base})
set(allowed_filetype ${base} filetype)
set(allowed_http ${base} http)
set(allowed_jobs ${base} http jobs)
set(allowed_auth ${engine} auth)
set(allowed_user ${engine} auth user)
set(allowed_tree ${engine} auth user tree)
set(allowed_xfer ${engine} auth user tree thumbnail xfer)
set(allowed_shares ${engine} auth user tree shares)
set(allowed_srp ${base} srp)
set(allowed_devserver ${base} srp devserver)
set(allowed_thumbnail ${base} thumbnail)
set(allowed_securestore securestore)

# Folder of the source → its layer, and the folders an include may name.
set(layered comm/platform comm/encoding comm/json comm/crypto comm/filetype comm/http comm/jobs
    comm/auth comm/user comm/tree comm/xfer comm/shares srp devserver thumbnail securestore)
set(known platform encoding json crypto filetype http jobs auth user tree xfer shares srp devserver
    thumbnail securestore app)

set(violations "")
foreach(folder IN LISTS layered)
  if(NOT IS_DIRECTORY ${ROOT}/${folder})
    continue()
  endif()
  get_filename_component(layer ${folder} NAME)
  file(GLOB_RECURSE sources RELATIVE ${ROOT} ${ROOT}/${folder}/*.h ${ROOT}/${folder}/*.cpp)
  foreach(source IN LISTS sources)
    file(STRINGS ${ROOT}/${source} lines REGEX "^[ \t]*#[ \t]*include[ \t]+\"[^\"]+\"")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([^\"]+)\".*" "\\1" included "${line}")
      string(REGEX MATCH "^[^/]+" top "${included}")
      # "comm/…" and "srp/…" from the project root name the same layers.
      if(top STREQUAL "comm")
        string(REGEX REPLACE "^comm/([^/]+).*" "\\1" top "${included}")
      endif()
      if(NOT top IN_LIST known)
        continue()
      endif()
      if(NOT top IN_LIST allowed_${layer})
        list(APPEND violations "${source}: ${layer} includes ${included}")
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations)
  list(JOIN violations "\n  " text)
  message(FATAL_ERROR "Includes against the layer order:\n  ${text}")
endif()
