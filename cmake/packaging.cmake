# SPDX-License-Identifier: MIT
# Packages made by CPack: a Debian package, a binary archive and a source
# archive (cmake --workflow --preset package).

set(FORKED_MAINTAINER "The forked authors <maintainers@forked.invalid>" CACHE STRING
    "Maintainer named in the Debian package: whoever builds packages to hand on sets their own")

set(CPACK_PACKAGE_VENDOR "The forked authors")
set(CPACK_PACKAGE_CONTACT "${FORKED_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# One line of the Debian description each, under 80 columns.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "forked calls fork() exactly once, and each process that exists afterwards"
    "prints one line with the value fork() gave it: the child's process ID in"
    "the parent, 0 in the child, -1 when no child could be made. Run it to see"
    "both sides of one fork, or to check that a platform's fork() and standard"
    "output behave.")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_STRIP_FILES ON)

# Debian wants a changelog beside the copyright, in its own format, dated as
# RFC 5322 dates are; the entry is dated when it is made, or at
# SOURCE_DATE_EPOCH for a reproducible build.
string(TIMESTAMP packaged "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(cmake/changelog.in changelog @ONLY)
forked_install_gzipped(changelog ${CMAKE_INSTALL_DOCDIR})

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# Depends is worked out by dpkg-shlibdeps from the libraries the program loads.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# The source archive is the tracked tree: no repository, no build folders,
# no editor droppings. The patterns are written into CPack's own config
# file, hence the doubled escapes.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_PACKAGE_FILE_NAME "${PROJECT_NAME}-${PROJECT_VERSION}")
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/\\\\.git$" "/build/" "~$" "\\\\.swp$" "/\\\\.#")

include(CPack)
