# Run by CPack on its staging folder before it packs: compresses the manual
# pages and the changelog with gzip -9n, as Debian packages carry them.
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/man/man*/*.[1-9]")
file(GLOB_RECURSE changelogs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/doc/*/changelog")
foreach(file IN LISTS pages changelogs)
  execute_process(COMMAND gzip -9nf ${file} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip failed on ${file}")
  endif()
endforeach()
