# Run by CPack on its staging folder before it packs: compresses the manual
# pages with gzip -9n, as Debian packages carry them.
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/man/man*/*.[1-9]")
foreach(page IN LISTS pages)
  execute_process(COMMAND gzip -9nf ${page} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip failed on ${page}")
  endif()
endforeach()
