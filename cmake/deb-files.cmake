# Run by CPack on its staging tree before it builds the package: what
# Debian policy asks of a package beyond what `cmake --install` puts in
# place. Man pages are compressed the Debian way, with no name or time
# stamp inside, so the same page gives the same bytes; the copyright file
# and the Debian changelog go under /usr/share/doc.
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_DIRECTORY}/*.[1-9]")
list(FILTER pages INCLUDE REGEX "/share/man/man[1-9]/[^/]+$")
if(NOT pages)
  message(FATAL_ERROR "no man pages under ${CPACK_TEMPORARY_DIRECTORY}")
endif()
foreach(page IN LISTS pages)
  execute_process(COMMAND gzip -9nf ${page} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip ${page} failed")
  endif()
endforeach()

set(src ${CPACK_TARVO_OSTREL_DEBIAN_DIR})
set(doc ${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/share/doc/${CPACK_PACKAGE_NAME})
# A package whose changelog names another version is a release not written
# up: stop rather than ship it.
set(version "${CPACK_PACKAGE_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")
file(STRINGS ${src}/changelog top LIMIT_COUNT 1)
if(NOT top MATCHES "^${CPACK_PACKAGE_NAME} \\(${version}\\) ")
  message(FATAL_ERROR "${src}/changelog does not begin with version ${version}")
endif()
file(MAKE_DIRECTORY ${doc})
file(COPY ${src}/copyright DESTINATION ${doc}
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
execute_process(COMMAND gzip -9nc ${src}/changelog
  OUTPUT_FILE ${doc}/changelog.Debian.gz RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "gzip ${src}/changelog failed")
endif()
