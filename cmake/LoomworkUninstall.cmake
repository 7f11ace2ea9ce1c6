# Removes what an install put down: every file named in the install manifest (written by
# `cmake --install`), then the project's own folders once
# nothing is left in them.
#   cmake -DMANIFEST=build/install_manifest.txt -P cmake/LoomworkUninstall.cmake
if(NOT MANIFEST OR NOT EXISTS "${MANIFEST}")
  message(FATAL_ERROR "no install manifest at '${MANIFEST}': install first (make install)")
endif()
file(STRINGS "${MANIFEST}" installed)
set(folders "")
foreach(f ${installed})
  if(IS_SYMLINK "${f}" OR EXISTS "${f}")
    file(REMOVE "${f}")
    message(STATUS "removed ${f}")
  endif()
  get_filename_component(d "${f}" DIRECTORY)
  list(APPEND folders "${d}")
endforeach()
# Then the project's own folders (lib/loomwork, share/loomwork, include/loomwork,
# lib/cmake/Loomwork and what lies below them) once empty; shared ones such as bin stay.
list(REMOVE_DUPLICATES folders)
set(own "")
foreach(d ${folders})
  string(REGEX MATCH "^(.*/[Ll]oomwork)(/|$)" top "${d}")
  if(top)
    list(APPEND own "${CMAKE_MATCH_1}")
  endif()
endforeach()
list(REMOVE_DUPLICATES own)
foreach(d ${own})
  file(GLOB_RECURSE left LIST_DIRECTORIES false "${d}/*")
  if(IS_DIRECTORY "${d}" AND NOT left)
    file(REMOVE_RECURSE "${d}")
  endif()
endforeach()
