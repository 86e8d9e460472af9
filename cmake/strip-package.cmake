# Run by CPack on the files it is about to pack: strips every ELF file as
# Debian's own packages are stripped (dh_strip), dropping the symbol table
# and the compiler's .comment and .note sections that nothing at run time
# reads. (CPack's own stripping keeps those two sections.)
file(GLOB_RECURSE _files LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(_file IN LISTS _files)
  if(IS_SYMLINK "${_file}")
    continue()
  endif()
  file(READ "${_file}" _magic LIMIT 4 HEX)
  if(_magic STREQUAL "7f454c46")
    execute_process(COMMAND strip --remove-section=.comment --remove-section=.note
      --strip-unneeded "${_file}" RESULT_VARIABLE _status)
    if(NOT _status EQUAL 0)
      message(FATAL_ERROR "strip-package: could not strip ${_file}")
    endif()
  endif()
endforeach()
