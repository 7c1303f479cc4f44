# Run by CPack on its staging tree before packing, to do what Debian's packaging helpers do:
# programs stripped of debugging symbols and of their .comment and .note sections (dh_strip),
# manual pages compressed with gzip -9n (dh_installman).
file(GLOB_RECURSE files LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(file IN LISTS files)
  if(IS_SYMLINK "${file}")
    continue()
  endif()
  file(READ "${file}" magic LIMIT 4 HEX)
  if(magic STREQUAL "7f454c46")
    execute_process(COMMAND strip --remove-section=.comment --remove-section=.note "${file}"
                    COMMAND_ERROR_IS_FATAL ANY)
  elseif(file MATCHES "/share/man/" AND NOT file MATCHES "\\.gz$")
    execute_process(COMMAND gzip -9n "${file}" COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()
