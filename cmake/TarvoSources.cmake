# Source files are listed by hand. This check fails the configuration when a
# .cpp file below `dir` is in none of the given lists, so that a new file
# cannot be left out of the build (and its tests out of the suite) unnoticed.
#   tarvo_require_listed(dir file...)
# Relative file names are taken from the calling folder, as add_library does.
function(tarvo_require_listed dir)
  set(_listed)
  foreach(f ${ARGN})
    get_filename_component(_abs ${f} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    list(APPEND _listed ${_abs})
  endforeach()
  file(GLOB_RECURSE _present CONFIGURE_DEPENDS ${dir}/*.cpp)
  foreach(f ${_present})
    if(NOT f IN_LIST _listed)
      file(RELATIVE_PATH _rel ${PROJECT_SOURCE_DIR} ${f})
      message(FATAL_ERROR "${_rel} is in no source list: add it to the list of its folder in ${CMAKE_CURRENT_LIST_FILE}")
    endif()
  endforeach()
endfunction()
