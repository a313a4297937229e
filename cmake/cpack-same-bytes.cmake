# SPDX-License-Identifier: MIT
# CPack runs this once it has made each package (CPACK_POST_BUILD_SCRIPTS,
# set in cmake/packaging.cmake), with CPACK_PACKAGE_FILES naming what it made.
# CPack lists entries in the order the folder gives them, takes their modes
# and the .deb's member modes from what the builder's umask made, and dates
# the archives' gzip headers by the clock. Each package is packed again from
# what it holds, so that one commit gives the same bytes whoever builds it,
# wherever and whenever, under any umask and locale: entries sorted by name
# as bytes, owned by root, dated at the release's date in NEWS, with modes
# u=rwX,go=rX. What they hold is the same already: the man page and the
# changelog entry are dated at that date too, and gzipped without a name or
# time (CMakeLists.txt, cmake/packaging.cmake). CMake 3.18 has no
# CPACK_POST_BUILD_SCRIPTS, so there the packages are CPack's own.
# .ci/packages checks the same bytes from two builds.

# forked_run(WHAT COMMAND [COMMAND ...]): each COMMAND its words joined by
# "|", piped into the next; the last writes to ${output} when that is set.
# Any failure stops CPack.
function(forked_run what)
  set(commands "")
  foreach(command IN LISTS ARGN)
    string(REPLACE "|" ";" command "${command}")
    list(APPEND commands COMMAND ${command})
  endforeach()
  if(output)
    list(APPEND commands OUTPUT_FILE "${output}")
  else()
    list(APPEND commands OUTPUT_QUIET)
  endif()
  execute_process(${commands} WORKING_DIRECTORY "${work}" RESULTS_VARIABLE statuses ERROR_VARIABLE errors)
  string(REGEX REPLACE "^0(;0)*$" "" failed "${statuses}")
  if(failed)
    message(FATAL_ERROR "forked: packing ${name} again for the same bytes failed at ${what} "
                        "(exit statuses ${statuses}):\n${errors}")
  endif()
endfunction()

set(epoch ${CPACK_FORKED_RELEASE_EPOCH})
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name "${package}" NAME)
  set(work "${CPACK_TOPLEVEL_DIRECTORY}/same-bytes/${name}")
  file(REMOVE_RECURSE "${work}")
  file(MAKE_DIRECTORY "${work}")
  set(output "")
  if(name MATCHES "\\.deb$")
    # dpkg-deb, which builds Debian's own packages, sorts the entries and
    # dates its members at SOURCE_DATE_EPOCH; it takes the entries' modes
    # and times from disk (clamped to SOURCE_DATE_EPOCH, so an earlier one
    # stays), so those are set first.
    forked_run("unpacking" "dpkg-deb|-R|${package}|root")
    forked_run("setting modes" "chmod|-R|u=rwX,go=rX|root")
    forked_run("setting times" "find|root|-exec|touch|-h|-d|@${epoch}|{}|+")
    forked_run("packing" "${CMAKE_COMMAND}|-E|env|SOURCE_DATE_EPOCH=${epoch}|dpkg-deb|--root-owner-group|-b|root|${package}")
  elseif(name MATCHES "\\.tar\\.gz$")
    # Files alone, no folders: unpacking under a prefix such as /usr/local
    # then makes the folders it lacks and leaves those it has alone.
    forked_run("unpacking" "tar|-xzf|${package}")
    set(output "${package}")
    forked_run("packing"
               "find|.|!|-type|d|-print0"
               "${CMAKE_COMMAND}|-E|env|LC_ALL=C|sort|-z"
               "tar|--null|--no-recursion|-T|-|-cf|-|--format=gnu|--owner=0|--group=0|--numeric-owner|--mtime=@${epoch}|--mode=u=rwX,go=rX|--transform=s,^[.]/,,"
               "gzip|-9n")
  else()
    message(FATAL_ERROR "forked: no way is known to make ${name} the same bytes from one source")
  endif()
  file(REMOVE_RECURSE "${work}")
endforeach()
