# SPDX-License-Identifier: MIT
# Packages made by CPack: a Debian package, a binary archive and a source
# archive (cmake --workflow --preset package).
#
# The Debian package names as its maintainer FORKED_MAINTAINER, whose default
# is a placeholder on the reserved .invalid domain. Whoever builds packages
# to hand on sets their own name and address first:
#   cmake --preset package -DFORKED_MAINTAINER="Name <address>"

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

# Debian's own files, for the .deb alone: the licence under the name
# copyright, and a changelog in Debian's format, dated as RFC 5322 dates are.
# They are the component debian, which a plain install leaves out, since
# they are no use to other systems, and the .deb alone takes
# (cmake/cpack-project.cmake).
# The changelog is dated at the release's date in NEWS, not when it is made,
# so that one source always gives the same bytes.
function(forked_rfc5322_date out date)
  if(date MATCHES "^([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$")
    set(year ${CMAKE_MATCH_1})
    set(dd ${CMAKE_MATCH_3})
    string(REGEX REPLACE "^0" "" month ${CMAKE_MATCH_2})
    string(REGEX REPLACE "^0" "" day ${dd})
  endif()
  if(NOT DEFINED year OR month LESS 1 OR month GREATER 12 OR day LESS 1 OR day GREATER 31)
    message(FATAL_ERROR "forked: NEWS dates ${PROJECT_VERSION} '${date}', not YYYY-MM-DD")
  endif()
  # The day of the week by Sakamoto's method, 0 for Sunday.
  set(offsets 0 3 2 5 0 3 5 1 4 6 2 4)
  math(EXPR m "${month} - 1")
  list(GET offsets ${m} offset)
  set(y ${year})
  if(month LESS 3)
    math(EXPR y "${year} - 1")
  endif()
  math(EXPR weekday "(${y} + ${y} / 4 - ${y} / 100 + ${y} / 400 + ${offset} + ${day}) % 7")
  set(weekdays Sun Mon Tue Wed Thu Fri Sat)
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  list(GET weekdays ${weekday} weekday_name)
  list(GET months ${m} month_name)
  set(${out} "${weekday_name}, ${dd} ${month_name} ${year} 00:00:00 +0000" PARENT_SCOPE)
  # Seconds since 1970 at midnight UTC that day, by the days-from-civil
  # method: the packages' entries are dated then.
  math(EXPR era "${y} / 400")
  math(EXPR year_of_era "${y} - ${era} * 400")
  math(EXPR shifted_month "(${month} + 9) % 12")
  math(EXPR day_of_year "(153 * ${shifted_month} + 2) / 5 + ${day} - 1")
  math(EXPR day_of_era "${year_of_era} * 365 + ${year_of_era} / 4 - ${year_of_era} / 100 + ${day_of_year}")
  math(EXPR epoch "(${era} * 146097 + ${day_of_era} - 719468) * 86400")
  set(${out}_epoch ${epoch} PARENT_SCOPE)
endfunction()
forked_rfc5322_date(released ${FORKED_RELEASE_DATE})
configure_file(cmake/changelog.in changelog @ONLY)
forked_install_gzipped(changelog ${CMAKE_INSTALL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright
        COMPONENT debian EXCLUDE_FROM_ALL)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The binary archive names the CPU its program is for: the target's, so that
# a cross build names the one it was built for.
set(CPACK_PACKAGE_FILE_NAME "${PROJECT_NAME}-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# CPack names the build machine's architecture; a cross build's package names
# the one it was built for, or none is made (cmake/cpack-project.cmake).
if(FORKED_DEB_HOST_ARCH)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${FORKED_DEB_HOST_ARCH})
elseif(CMAKE_CROSSCOMPILING)
  set(CPACK_FORKED_TARGET_UNNAMED "'${CMAKE_CXX_LIBRARY_ARCHITECTURE}'")
endif()
# Depends is worked out by dpkg-shlibdeps from the libraries the program loads.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# The source archive is exactly what git tracks. CPack's ignore patterns
# cannot give that: they match absolute paths, so "/build/" empties the
# archive of a tree under any folder named build, and whatever lies about
# untracked gets in. Instead, when CPack makes it, cmake/cpack-project.cmake
# copies the tracked files to a folder of their own, which is packed whole.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_PACKAGE_FILE_NAME "${PROJECT_NAME}-${PROJECT_VERSION}")
set(CPACK_FORKED_SOURCE_DIR "${PROJECT_SOURCE_DIR}")
set(CPACK_FORKED_TRACKED_DIR "${PROJECT_BINARY_DIR}/tracked-files")
set(CPACK_SOURCE_INSTALLED_DIRECTORIES "${CPACK_FORKED_TRACKED_DIR};/")

set(CPACK_PROJECT_CONFIG_FILE "${PROJECT_SOURCE_DIR}/cmake/cpack-project.cmake")
# Once CPack has made each package, cmake/cpack-same-bytes.cmake packs it
# again, every entry dated at the release's date (CMake 3.19 and newer run
# it; its head says why).
set(CPACK_FORKED_RELEASE_EPOCH ${released_epoch})
set(CPACK_POST_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/cmake/cpack-same-bytes.cmake")

include(CPack)
