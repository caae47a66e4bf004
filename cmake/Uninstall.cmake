# Removes what `cmake --install` put in place, as listed in the build
# folder's install_manifest.txt.
#   cmake -DMANIFEST=<build>/install_manifest.txt -P Uninstall.cmake
# (the `uninstall` target runs this; DESTDIR is honoured as by the install).
if(NOT EXISTS "${MANIFEST}")
  message(FATAL_ERROR "${MANIFEST} not found: nothing was installed from this build folder")
endif()
file(STRINGS "${MANIFEST}" _files)
foreach(_file IN LISTS _files)
  set(_path "$ENV{DESTDIR}${_file}")
  if(EXISTS "${_path}" OR IS_SYMLINK "${_path}")
    message(STATUS "Removing ${_path}")
    file(REMOVE "${_path}")
  endif()
endforeach()

# Folders of our own that are empty now (the Shotcut filter folder, the
# plug-in's private folder) go too; shared folders still holding other
# programs' files stay.
foreach(_file IN LISTS _files)
  get_filename_component(_dir "$ENV{DESTDIR}${_file}" DIRECTORY)
  get_filename_component(_name "${_dir}" NAME)
  if(_name STREQUAL "tarvo" AND IS_DIRECTORY "${_dir}")
    file(GLOB _left "${_dir}/*")
    if(NOT _left)
      message(STATUS "Removing ${_dir}")
      file(REMOVE_RECURSE "${_dir}")
    endif()
  endif()
endforeach()
