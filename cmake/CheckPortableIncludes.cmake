# Fails when a portable source includes a toolkit or operating-system header.
# Run as: cmake -DROOT=<source dir> -DDIRS=<dir,dir> -P CheckPortableIncludes.cmake
set(forbidden "^[ \t]*#[ \t]*include[ \t]*[<\"](Q[A-Za-z]+|qt|windows\\.h|winuser|winbase|ole2|objbase|oleauto|dshow|strmif|gst/|glib|gio/|dbus|unistd\\.h|sys/|fcntl\\.h|pthread\\.h|X11/)")
set(bad "")
string(REPLACE "," ";" DIRS "${DIRS}")
foreach(d ${DIRS})
  file(GLOB_RECURSE files ${ROOT}/src/${d}/*.cpp ${ROOT}/src/${d}/*.h)
  foreach(f ${files})
    # The platform faces of the stand-in node and the guardian's mains live
    # below src/nodesim/<platform>/ and src/guard/<platform>/.
    if(f MATCHES "/src/(nodesim|guard)/(linux|windows)/")
      continue()
    endif()
    file(STRINGS ${f} lines REGEX "${forbidden}")
    foreach(l ${lines})
      string(APPEND bad "  ${f}: ${l}\n")
    endforeach()
  endforeach()
endforeach()
if(bad)
  message(FATAL_ERROR "Portable code includes platform headers:\n${bad}")
endif()
