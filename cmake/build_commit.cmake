# Writes the header that tells the program which commit it was built from:
#   cmake -DSOURCE_DIR=<repository> -DOUTPUT=<header> -P build_commit.cmake
# Run at every build rather than once at configure time, so that a build tree kept across
# commits does not go on naming the commit it was configured at. The header is rewritten only
# when the commit changes, so an unchanged tree recompiles nothing. Outside a git checkout of
# this very folder (a source tarball, or one unpacked inside some other repository) the commit
# is left empty and the program names none.
set(commit "")
find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" rev-parse --show-toplevel
                  OUTPUT_VARIABLE top RESULT_VARIABLE failed ERROR_QUIET
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT failed)
    file(REAL_PATH "${top}" top)
    file(REAL_PATH "${SOURCE_DIR}" source)
  endif()
  if(NOT failed AND top STREQUAL source)
    # The short hash alone (no tag names), marked "-dirty" when the tree has changes that no
    # commit holds.
    execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" describe --always --dirty
                            --abbrev=10 --exclude=*
                    OUTPUT_VARIABLE commit RESULT_VARIABLE failed ERROR_QUIET
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(failed)
      set(commit "")
    endif()
  endif()
endif()

set(text "// Made by cmake/build_commit.cmake at build time.\n#pragma once\n#define LYAPSEARCH_COMMIT \"${commit}\"\n")
set(old "")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUTPUT}" "${text}")
endif()
