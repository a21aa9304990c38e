# Fails when a source file includes a header of a layer above its own.
# The layers, lowest first; a file may include headers of its own layer and
# of any layer below it. Run by the build (see CMakeLists.txt) with
#   cmake -DSOURCE_DIR=<repo> -DSTAMP=<file> -P CheckLayers.cmake
#
# Folders (relative to src/) and their layer numbers. The window and the
# command line sit on top and may include everything; the update check is
# a front-end library of its own beside them.
set(layer_engine 0)
set(layer_operations 1)
set(layer_resize 2)
set(layer_ui 3)
set(layer_cli 4)
set(layer_update 4)
set(layer_ui/qt 5)

# The folder (one of the names above) a path under src/ belongs to.
function(layer_folder path out)
  if(path MATCHES "^ui/qt/")
    set(${out} "ui/qt" PARENT_SCOPE)
  elseif(path MATCHES "^([^/]+)/")
    set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
  else()
    set(${out} "" PARENT_SCOPE)
  endif()
endfunction()

file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR}/src
  ${SOURCE_DIR}/src/*.cpp ${SOURCE_DIR}/src/*.h)
set(errors "")
foreach(source ${sources})
  layer_folder("${source}" folder)
  if(NOT DEFINED layer_${folder})
    continue()
  endif()
  set(own ${layer_${folder}})
  file(STRINGS ${SOURCE_DIR}/src/${source} includes
    REGEX "^[ \t]*#[ \t]*include[ \t]+\"[^\"]+\"")
  foreach(line ${includes})
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([^\"]+)\".*" "\\1"
      header "${line}")
    layer_folder("${header}" target)
    if(NOT DEFINED layer_${target})
      continue()
    endif()
    if(layer_${target} GREATER own)
      string(APPEND errors
        "  src/${source} (${folder}) includes \"${header}\" (${target})\n")
    endif()
  endforeach()
  # libtiff belongs to the TIFF format unit alone.
  if(DEFINED TIFF_UNIT AND NOT source MATCHES "^${TIFF_UNIT}")
    file(STRINGS ${SOURCE_DIR}/src/${source} tiff_includes
      REGEX "^[ \t]*#[ \t]*include[ \t]+<tiff(io)?\\.h>")
    if(tiff_includes)
      string(APPEND errors
        "  src/${source} includes libtiff outside src/${TIFF_UNIT}\n")
    endif()
  endif()
endforeach()

if(errors)
  message(FATAL_ERROR
    "Includes that point up the layers (engine < operations < resize < "
    "ui rules < front ends):\n${errors}")
endif()
file(WRITE ${STAMP} "layers checked\n")
