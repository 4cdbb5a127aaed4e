# What `cmake --install` puts under the prefix: the program in bin/ and its manual page, and
# nothing else (no test program, no benchmark).
include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS lyapsearch RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The manual page goes in compressed, as Debian's policy wants it, with no time stamp in the
# gzip header so that two builds of one source give the same package.
find_program(LYAPSEARCH_GZIP gzip)
set(manual_source ${PROJECT_SOURCE_DIR}/docs/lyapsearch.1)
if(LYAPSEARCH_GZIP)
  set(lyapsearch_manual ${CMAKE_CURRENT_BINARY_DIR}/lyapsearch.1.gz)
  add_custom_command(OUTPUT ${lyapsearch_manual}
    COMMAND ${CMAKE_COMMAND} -E copy ${manual_source} ${CMAKE_CURRENT_BINARY_DIR}/lyapsearch.1
    COMMAND ${LYAPSEARCH_GZIP} -9nf ${CMAKE_CURRENT_BINARY_DIR}/lyapsearch.1
    DEPENDS ${manual_source}
    VERBATIM)
  add_custom_target(lyapsearch_manual ALL DEPENDS ${lyapsearch_manual})
else()
  set(lyapsearch_manual ${manual_source})
  add_custom_target(lyapsearch_manual)
endif()
install(FILES ${lyapsearch_manual} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
