# SPDX-License-Identifier: MIT
# A distribution's package is built the way the distribution builds its own:
# with Debian's packaging flags and every hardening feature they offer
# (hardening=+all), and without the compilers' .comment section, which
# Debian's dh_strip removes. The package preset turns this on, and
# .ci/packages holds the result to lintian and hardening-check.
# dpkg-buildflags runs in the source tree, so its -ffile-prefix-map gives
# the same bytes wherever the tree lies.
option(FORKED_DEBIAN_FLAGS "Build the program with dpkg-buildflags' flags, hardening included, as Debian packages are" OFF)
# A cross build's flags and .deb are the target's, named as dpkg names it
# (its Debian architecture, not its GNU triplet); dpkg-buildflags gives each
# CPU its own.
set(FORKED_DEB_HOST_ARCH "")
if(CMAKE_CROSSCOMPILING AND CMAKE_CXX_LIBRARY_ARCHITECTURE)
  execute_process(COMMAND dpkg-architecture -t ${CMAKE_CXX_LIBRARY_ARCHITECTURE} -qDEB_HOST_ARCH
                  OUTPUT_VARIABLE FORKED_DEB_HOST_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
set(deb_host_env "")
if(FORKED_DEB_HOST_ARCH)
  set(deb_host_env DEB_HOST_ARCH=${FORKED_DEB_HOST_ARCH})
endif()
if(FORKED_DEBIAN_FLAGS AND CMAKE_CROSSCOMPILING AND NOT FORKED_DEB_HOST_ARCH)
  message(FATAL_ERROR "forked: FORKED_DEBIAN_FLAGS takes the target's flags from dpkg-buildflags, and dpkg-architecture "
                      "names no Debian architecture for this cross build's '${CMAKE_CXX_LIBRARY_ARCHITECTURE}'")
endif()
if(FORKED_DEBIAN_FLAGS)
  if(NOT CMAKE_OBJCOPY)
    message(FATAL_ERROR "forked: FORKED_DEBIAN_FLAGS removes the .comment section with objcopy, "
                        "and none was found; on Debian or Ubuntu: apt-get install binutils")
  endif()
  foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all ${deb_host_env}
                            dpkg-buildflags --get ${kind}
                    WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
                    RESULT_VARIABLE status OUTPUT_VARIABLE flags ERROR_VARIABLE errors
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT status STREQUAL "0")
      message(FATAL_ERROR "forked: FORKED_DEBIAN_FLAGS takes Debian's flags from dpkg-buildflags, "
                          "which failed (${status}${errors}); on Debian or Ubuntu: apt-get install dpkg-dev")
    endif()
    separate_arguments(debian_${kind} UNIX_COMMAND "${flags}")
  endforeach()
  list(JOIN debian_CPPFLAGS " " cppflags)
  list(JOIN debian_CXXFLAGS " " cxxflags)
  list(JOIN debian_LDFLAGS " " ldflags)
  message(STATUS "forked: Debian's flags: ${cppflags} ${cxxflags}; linker: ${ldflags}")
  target_compile_options(forked PRIVATE ${debian_CPPFLAGS} ${debian_CXXFLAGS})
  target_link_options(forked PRIVATE ${debian_LDFLAGS})
  add_custom_command(TARGET forked POST_BUILD
                     COMMAND ${CMAKE_OBJCOPY} --remove-section=.comment $<TARGET_FILE:forked>)
endif()
