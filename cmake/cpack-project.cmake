# SPDX-License-Identifier: MIT
# CPack reads this just before it makes each package (CPACK_PROJECT_CONFIG_FILE,
# set in cmake/packaging.cmake), with CPACK_GENERATOR naming the one generator
# at work. It runs at packaging time, not when the project is configured.

if(CPACK_GENERATOR STREQUAL "DEB")
  # Debian's copyright and changelog, which a plain install leaves out, and
  # not the licence under its own name, a second copy of the copyright file;
  # one package of them all.
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENTS_ALL Unspecified debian)
endif()
