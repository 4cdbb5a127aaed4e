# The Debian package (scripts/package): the program and its manual page from the install rules,
# plus the copyright file and the changelog that Debian's policy asks of every package, and
# CPack's DEB generator set up to make lyapsearch_<version>_amd64.deb.
set(LYAPSEARCH_MAINTAINER "The lyapsearch developers <lyapsearch@example.org>"
    CACHE STRING "The Debian package's maintainer")

# A native package (no Debian revision), whose changelog is one entry for this version. Its
# date honours SOURCE_DATE_EPOCH, so that scripts/package can make the same package twice.
string(TIMESTAMP LYAPSEARCH_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in
               ${CMAKE_CURRENT_BINARY_DIR}/package/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/package/changelog.gz
  COMMAND ${LYAPSEARCH_GZIP} -9nkf ${CMAKE_CURRENT_BINARY_DIR}/package/changelog
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/package/changelog
  VERBATIM)
add_custom_target(lyapsearch_changelog ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/package/changelog.gz)
add_dependencies(lyapsearch_manual lyapsearch_changelog)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright
              ${CMAKE_CURRENT_BINARY_DIR}/package/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
set(lyapsearch_documents ${CMAKE_INSTALL_DOCDIR}/copyright ${CMAKE_INSTALL_DOCDIR}/changelog.gz)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lyapsearch)
set(CPACK_PACKAGE_VENDOR "The lyapsearch developers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${LYAPSEARCH_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends: as dpkg-shlibdeps finds them in the program's shared libraries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "unattended search for chaos in a Hamiltonian system")
# Lines of at most 79 columns, as the package's control file shows them.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "lyapsearch runs for hours or days without attention. Trial after trial it
draws the free parameters of one fixed Hamiltonian system with two degrees of
freedom, integrates two neighbouring trajectories in 80-bit extended precision
and estimates the largest Lyapunov exponent. Every chaotic find is kept: a
coloured log on the terminal, a shaded phase portrait in a window, and a line
in a results file. The search favours parameter values that are short to
write, so a long run walks towards ever simpler chaotic systems.

It uses every processor it may, at the lowest priority, and runs without a
terminal or a display on servers and batch systems, where an interrupted
search continues at its next start.")
include(CPack)
