# Fails when a portable source includes a toolkit or operating-system header,
# or when an include of the core runs up its layers or across to another
# folder of the same layer (one feature including another): features reach
# each other only through the station's hooks.
#
# Run as: cmake -DROOT=<source dir> -DLAYERS=<layer,layer> [-DPORTABLE=<dir,dir>]
#                -P CheckPortableIncludes.cmake
# LAYERS lists the core's folders under src/, lowest first; the folders of
# one layer are separated by blanks. PORTABLE lists more folders (from ROOT)
# whose sources must stay free of platform headers.
set(forbidden "^[ \t]*#[ \t]*include[ \t]*[<\"](Q[A-Za-z]+|qt|windows\\.h|winuser|winbase|ole2|objbase|oleauto|dshow|strmif|gst/|glib|gio/|dbus|unistd\\.h|sys/|fcntl\\.h|pthread\\.h|X11/)")
string(REPLACE "," ";" LAYERS "${LAYERS}")
string(REPLACE "," ";" PORTABLE "${PORTABLE}")

set(rank 0)
set(core_dirs "")
foreach(layer ${LAYERS})
  string(REPLACE " " ";" dirs "${layer}")
  foreach(d ${dirs})
    set(rank_${d} ${rank})
    list(APPEND core_dirs ${d})
  endforeach()
  math(EXPR rank "${rank} + 1")
endforeach()

# The platform headers.
set(bad "")
set(files "")
foreach(d ${core_dirs})
  file(GLOB found ${ROOT}/src/${d}/*.cpp ${ROOT}/src/${d}/*.h)
  if(NOT found)
    message(FATAL_ERROR "No sources in the core's folder src/${d}")
  endif()
  list(APPEND files ${found})
endforeach()
foreach(d ${PORTABLE})
  file(GLOB found ${ROOT}/${d}/*.cpp ${ROOT}/${d}/*.h)
  list(APPEND files ${found})
endforeach()
foreach(f ${files})
  file(STRINGS ${f} lines REGEX "${forbidden}")
  foreach(l ${lines})
    string(APPEND bad "  ${f}: ${l}\n")
  endforeach()
endforeach()
if(bad)
  message(FATAL_ERROR "Portable code includes platform headers:\n${bad}")
endif()

# The layers: every arrow runs down, or stays in its folder.
set(upward "")
foreach(d ${core_dirs})
  file(GLOB found ${ROOT}/src/${d}/*.cpp ${ROOT}/src/${d}/*.h)
  foreach(f ${found})
    file(STRINGS ${f} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"[A-Za-z_]+/")
    foreach(l ${lines})
      string(REGEX REPLACE "^[^\"]*\"([A-Za-z_]+)/.*" "\\1" to "${l}")
      if(to STREQUAL d)
        continue()
      endif()
      if(NOT DEFINED rank_${to})
        string(APPEND upward "  ${f}: ${l}  (not a folder of the core)\n")
      elseif(NOT rank_${to} LESS rank_${d})
        string(APPEND upward "  ${f}: ${l}\n")
      endif()
    endforeach()
  endforeach()
endforeach()
if(upward)
  message(FATAL_ERROR "An include runs up or across the core's layers (base, window, seams, station, "
                      "features, app); a feature reaches another through a station hook:\n${upward}")
endif()
