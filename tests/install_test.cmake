# Installs the build into a fresh prefix, then checks that exactly the EXPECTED files (paths
# under the prefix) are there, and that the installed program gives its version:
#   cmake -DBUILD_DIR=... -DPREFIX=... -DVERSION=X.Y.Z -DEXPECTED="bin/a;share/..." -P this
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE failed OUTPUT_VARIABLE log ERROR_VARIABLE log)
if(failed)
  message(FATAL_ERROR "cmake --install failed:\n${log}")
endif()

file(GLOB_RECURSE found LIST_DIRECTORIES false RELATIVE "${PREFIX}" "${PREFIX}/*")
list(SORT found)
set(expected ${EXPECTED})
list(SORT expected)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "installed:\n  ${found}\nexpected:\n  ${expected}")
endif()

execute_process(COMMAND "${PREFIX}/bin/lyapsearch" --version
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(REPLACE "." "\\." version_pattern "${VERSION}")
if(NOT status EQUAL 0 OR NOT out MATCHES "^lyapsearch ${version_pattern} \\([^\n]*\\)\n$" OR err)
  message(FATAL_ERROR "installed --version: status ${status}, out '${out}', err '${err}'")
endif()
message(STATUS "installed ${found}; ${out}")
file(REMOVE_RECURSE "${PREFIX}")
