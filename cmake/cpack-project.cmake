# SPDX-License-Identifier: MIT
# CPack reads this just before it makes each package (CPACK_PROJECT_CONFIG_FILE,
# set in cmake/packaging.cmake), with CPACK_GENERATOR naming the one generator
# at work. It runs at packaging time, not when the project is configured.

# A release is what its commit says: packages from a tree whose tracked files
# differ from it would ship an edit that no commit records. Untracked files
# go into no package, so they do not count.
execute_process(COMMAND git status --porcelain --untracked-files=no
                WORKING_DIRECTORY "${CPACK_FORKED_SOURCE_DIR}"
                RESULT_VARIABLE status OUTPUT_VARIABLE changed ERROR_VARIABLE errors)
if(NOT status STREQUAL "0")
  message(FATAL_ERROR "forked: packages are made from a git clone of forked, and git status "
                      "failed in ${CPACK_FORKED_SOURCE_DIR} (${status}): ${errors}")
elseif(changed)
  message(FATAL_ERROR "forked: these tracked files of ${CPACK_FORKED_SOURCE_DIR} differ from its "
                      "commit, and a package must be what a commit holds; commit or undo them first:\n${changed}")
endif()

if(CPACK_INSTALLED_DIRECTORIES STREQUAL "${CPACK_FORKED_TRACKED_DIR};/")
  # The source archive: the files git tracks, as the commit has them.
  # git lists them and tar copies them, so that any name passes untouched and
  # a tracked file missing from the tree fails the copy.
  file(REMOVE_RECURSE "${CPACK_FORKED_TRACKED_DIR}")
  file(MAKE_DIRECTORY "${CPACK_FORKED_TRACKED_DIR}")
  execute_process(COMMAND git ls-files -z
                  COMMAND tar --null --no-recursion -T - -cf -
                  COMMAND tar -xf - -C "${CPACK_FORKED_TRACKED_DIR}"
                  WORKING_DIRECTORY "${CPACK_FORKED_SOURCE_DIR}"
                  RESULTS_VARIABLE statuses ERROR_VARIABLE errors)
  if(NOT statuses STREQUAL "0;0;0")
    message(FATAL_ERROR "forked: the source archive is what git tracks, and the tracked files of "
                        "${CPACK_FORKED_SOURCE_DIR} could not be listed and copied (exit statuses of git "
                        "ls-files, tar, tar: ${statuses}); it needs git and a git clone:\n${errors}")
  endif()
  file(GLOB_RECURSE copied LIST_DIRECTORIES false "${CPACK_FORKED_TRACKED_DIR}/*")
  if(NOT copied)
    message(FATAL_ERROR "forked: git tracks no files in ${CPACK_FORKED_SOURCE_DIR}; "
                        "the source archive is made from a git clone of forked")
  endif()
  # Everything copied goes in; CPack's default patterns would drop some names.
  set(CPACK_IGNORE_FILES "")
elseif(CPACK_GENERATOR STREQUAL "DEB")
  if(CPACK_FORKED_TARGET_UNNAMED)
    message(FATAL_ERROR "forked: this cross build's Debian package would claim the build machine's architecture: "
                        "dpkg-architecture names none for its target ${CPACK_FORKED_TARGET_UNNAMED}")
  endif()
  # Debian's copyright and changelog, which a plain install leaves out, and
  # not the licence under its own name, a second copy of the copyright file;
  # one package of them all.
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENTS_ALL Unspecified debian)
endif()
