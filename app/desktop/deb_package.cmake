# Run by cpack (CPACK_PRE_BUILD_SCRIPTS) on the installed files before they
# are packed: what Debian's policy asks of a package and a plain
# cmake --install has no use for. The manual pages are compressed with
# gzip -9n (no name or time stamp, so the same pages give the same bytes),
# and the package's documentation folder gets its copyright file and its
# changelog.

set(root "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
if(NOT IS_DIRECTORY "${root}/bin")
  message(FATAL_ERROR "no bin/ in cpack's staging folder ${root}")
endif()

file(GLOB pages "${root}/share/man/man*/*.[1-9]")
if(NOT pages)
  message(FATAL_ERROR "no manual page under ${root}/share/man")
endif()
foreach(page IN LISTS pages)
  execute_process(COMMAND gzip -9nf "${page}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip -9n ${page}: ${status}")
  endif()
endforeach()

set(doc "${root}/share/doc/${CPACK_DEBIAN_PACKAGE_NAME}")
file(MAKE_DIRECTORY "${doc}")
file(COPY_FILE "${CPACK_ORVANTA_COPYRIGHT}" "${doc}/copyright")
file(COPY_FILE "${CPACK_ORVANTA_CHANGELOG}" "${doc}/changelog")
execute_process(COMMAND gzip -9nf "${doc}/changelog" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip -9n ${doc}/changelog: ${status}")
endif()
file(CHMOD "${doc}/copyright" "${doc}/changelog.gz" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
