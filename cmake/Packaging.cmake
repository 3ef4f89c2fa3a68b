# `make package`: the Debian package sample-extension, with both executables, their manual
# pages, the golden conversations, and the licence and changelog in Debian's forms (built
# here by CPack from the default component); and the library's two packages, built by
# packaging/library-packages from the components `library` and `development`. The
# dependencies are computed from the binaries by dpkg-shlibdeps, so they follow whatever
# the build links.
set(SAMPLE_DEBIAN_REVISION 1)
set(SAMPLE_DEBIAN_VERSION ${PROJECT_VERSION}-${SAMPLE_DEBIAN_REVISION})

# Debian wants documentation compressed with the greatest effort and without a timestamp,
# so that the same sources give the same package.
function(sample_install_gzipped source destination)
  get_filename_component(name ${source} NAME)
  string(REGEX REPLACE "\\.in$" "" name ${name})
  set(gzipped ${CMAKE_CURRENT_BINARY_DIR}/packaging/${name}.gz)
  add_custom_command(OUTPUT ${gzipped}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/packaging
    COMMAND gzip -9n -c ${source} > ${gzipped}
    DEPENDS ${source}
    VERBATIM)
  add_custom_target(gzip_${name} ALL DEPENDS ${gzipped})
  install(FILES ${gzipped} DESTINATION ${destination} ${ARGN})
endfunction()

configure_file(packaging/changelog.in ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian @ONLY)
sample_install_gzipped(${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian ${CMAKE_INSTALL_DOCDIR})
foreach(page sample-extension.1 extension-host.1)
  configure_file(man/${page}.in ${CMAKE_CURRENT_BINARY_DIR}/man/${page} @ONLY)
  sample_install_gzipped(${CMAKE_CURRENT_BINARY_DIR}/man/${page} ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
configure_file(man/extension_host.3.in ${CMAKE_CURRENT_BINARY_DIR}/man/extension_host.3 @ONLY)
sample_install_gzipped(${CMAKE_CURRENT_BINARY_DIR}/man/extension_host.3 ${CMAKE_INSTALL_MANDIR}/man3
  COMPONENT development)
install(FILES packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The package is not uploaded to Debian's archive, so its first changelog entry closes no
# "intent to package" bug; the override says so where lintian looks for it.
install(FILES packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
  RENAME sample-extension)

# What packaging/library-packages needs to know of this build.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/packaging/library-packages.env
  "VERSION=${PROJECT_VERSION}\nREVISION=${SAMPLE_DEBIAN_REVISION}\n"
  "SOURCE='${PROJECT_SOURCE_DIR}'\nCHANGELOG='${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian'\n"
  "MAINTAINER='sample-extension maintainers <maintainers@sample-extension.example.org>'\n")

set(CPACK_GENERATOR DEB)
# The library's components are its own packages'; this one holds the rest, and runs its
# extensions under the supervisor that libextension-host0 installs.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Unspecified)
set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_NAME sample-extension)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libextension-host0 (= ${SAMPLE_DEBIAN_VERSION})")
set(CPACK_PACKAGE_NAME sample-extension)
set(CPACK_PACKAGE_VENDOR "The sample-extension authors")
set(CPACK_PACKAGE_CONTACT
  "sample-extension maintainers <maintainers@sample-extension.example.org>")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "line-protocol sample extension, its host and conformance conversations")
set(CPACK_PACKAGE_DESCRIPTION [=[
sample-extension is a program that a host application runs as a child
process and talks with over standard input and output, one JSON object
per line: a handshake, the announcement of three callables (an echo, a
fixed failure, a bounded wait), calls answered in order, and an exit
status that tells how the conversation ended. It is a small, complete
example of the protocol, for those who write hosts or port extensions.

extension-host runs any such extension by hand or in continuous
integration: it holds a conversation and shows every line, or plays the
golden conversations installed with it and reports, byte for byte,
where an extension departs from them.]=])
# A component's package takes the summary from CPACK_PACKAGE_DESCRIPTION_SUMMARY, and
# the rest from its own description.
set(CPACK_DEBIAN_UNSPECIFIED_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${SAMPLE_DEBIAN_REVISION})
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
