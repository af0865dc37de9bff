# Installation and the Debian package: the programs, their man pages and
# the scripts that spread a run over GNU parallel.
include(GNUInstallDirs)

# Each script is its own head and the part both share, with the project's
# version filled in; these copies go next to the programs in the build
# tree, and they are what the tests run and what is installed.
set(shared ${PROJECT_SOURCE_DIR}/scripts/scale-out.pl)
file(READ ${shared} rest)
foreach(script tarvo-parallel ostrel-parallel)
  set(head ${PROJECT_SOURCE_DIR}/scripts/${script})
  file(READ ${head} text)
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/scripts/${script} CONTENT "${text}${rest}" @ONLY)
  file(COPY ${PROJECT_BINARY_DIR}/scripts/${script} DESTINATION ${PROJECT_BINARY_DIR}
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
      WORLD_READ WORLD_EXECUTE)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${head} ${shared})
endforeach()

install(TARGETS tarvo ostrel tarvo-pileup tarvo-hmm RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS ${PROJECT_BINARY_DIR}/tarvo-parallel ${PROJECT_BINARY_DIR}/ostrel-parallel
  DESTINATION ${CMAKE_INSTALL_BINDIR})
# The pages name the release in their footer, taken from the project's
# version like everything else that shows it. The comment at the top of
# each source, which marks it as a template, stays behind.
foreach(page tarvo ostrel tarvo-parallel ostrel-parallel tarvo-pileup tarvo-hmm)
  set(source ${PROJECT_SOURCE_DIR}/docs/${page}.1)
  file(READ ${source} text)
  string(REGEX REPLACE "^(\\.\\\\\"[^\n]*\n)+" "" text "${text}")
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/man/${page}.1 CONTENT "${text}" @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  install(FILES ${PROJECT_BINARY_DIR}/man/${page}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

set(CPACK_PACKAGE_NAME tarvo-ostrel)
set(CPACK_PACKAGE_VENDOR "tarvo-ostrel maintainers")
set(CPACK_PACKAGE_CONTACT "tarvo-ostrel maintainers <maintainers@tarvo-ostrel.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "ancestry-state likelihoods and base tallies as Unix filters")
set(CPACK_PACKAGE_DESCRIPTION
  "tarvo scores observations of one individual against the allele frequencies
of two source populations and prints, per observation, the likelihood of
each ancestry state; tarvo-pileup makes those observations from the
samtools mpileup text of one individual's reads and a panel of the two
populations' allele frequencies; tarvo-hmm turns the per-locus likelihoods
into ancestry posteriors along each chromosome, tracts, and the admixture
proportion and date. ostrel prints the number of A, C, G, T
and N on each line of its input. tarvo-parallel and ostrel-parallel
spread a run over the cores of one machine or over several hosts with
GNU parallel.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://tarvo-ostrel.example")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The Debian revision: the package is built from an upstream release, so
# its changelog is changelog.Debian.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS parallel)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS pv)
# CPack finds the programs among the packaged files with `file`, which
# build-essential does not bring, and hands them to dpkg-shlibdeps (from
# dpkg-dev); without either the dependencies are the ones listed here.
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(FILE_COMMAND file)
if(DPKG_SHLIBDEPS AND FILE_COMMAND)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1 (>= 3.0)")
endif()
set(CPACK_GENERATOR DEB)
# Debian ships man pages compressed, and a copyright file and changelog
# with every package; a plain install keeps the pages as written and has
# no use for the Debian files.
set(CPACK_TARVO_OSTREL_DEBIAN_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/deb-files.cmake)

include(CPack)
