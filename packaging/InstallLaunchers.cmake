# Run by `cmake --install`: makes BINDIR/NAME a relative symbolic link to the program
# folder's NAME for each of CVK_LAUNCHER_NAMES, under DESTDIR when it is set.
#
# The link is computed between the final places (without DESTDIR), so it stays right when
# a staged tree is copied into place.

function(cvk_install_dir result dir)
  if(IS_ABSOLUTE "${dir}")
    set(${result} "${dir}" PARENT_SCOPE)
  else()
    set(${result} "${CMAKE_INSTALL_PREFIX}/${dir}" PARENT_SCOPE)
  endif()
endfunction()

cvk_install_dir(cvk_bindir "${CVK_LAUNCHER_BINDIR}")
cvk_install_dir(cvk_programdir "${CVK_LAUNCHER_PROGRAM_DIR}")
file(MAKE_DIRECTORY "$ENV{DESTDIR}${cvk_bindir}")

foreach(cvk_name IN LISTS CVK_LAUNCHER_NAMES)
  file(RELATIVE_PATH cvk_target "${cvk_bindir}" "${cvk_programdir}/${cvk_name}")
  set(cvk_link "$ENV{DESTDIR}${cvk_bindir}/${cvk_name}")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${cvk_link}")
  if(IS_SYMLINK "${cvk_link}")
    file(READ_SYMLINK "${cvk_link}" cvk_existing)
    if(cvk_existing STREQUAL cvk_target)
      message(STATUS "Up-to-date: ${cvk_link}")
      continue()
    endif()
  endif()
  message(STATUS "Installing: ${cvk_link} -> ${cvk_target}")
  file(CREATE_LINK "${cvk_target}" "${cvk_link}" SYMBOLIC)
endforeach()
