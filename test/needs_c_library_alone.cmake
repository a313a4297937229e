# SPDX-License-Identifier: MIT
# The libraries a program's dynamic section names as needed must be the C
# library alone (glibc's libc.so.6, musl's libc.musl-ARCH.so.1), or match
# ALLOWED, a regular expression (a sanitizer build's runtimes). The section
# is read, not the loader asked, so a build for another CPU is checked too.
#
#   cmake -DREADELF=readelf -DPROGRAM=path [-DALLOWED=regex] -P needs_c_library_alone.cmake
execute_process(COMMAND ${READELF} --dynamic ${PROGRAM}
                OUTPUT_VARIABLE section ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${READELF} could not read ${PROGRAM}'s dynamic section: ${errors}")
endif()
string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*\\[[^]\n]*\\]" entries "${section}")
set(c_library "")
set(others "")
foreach(entry IN LISTS entries)
  string(REGEX REPLACE ".*\\[(.*)\\]" "\\1" name "${entry}")
  if(name MATCHES "^libc\\.(so\\.[0-9.]+|musl-[^/]*)$")
    set(c_library ${name})
  elseif(NOT (ALLOWED AND name MATCHES "${ALLOWED}"))
    list(APPEND others ${name})
  endif()
endforeach()
if(others)
  string(JOIN ", " others ${others})
  message(FATAL_ERROR "${PROGRAM} needs ${others} besides the C library")
endif()
# Naming the C library shows that the section was read.
if(NOT c_library)
  message(FATAL_ERROR "${PROGRAM} names no C library among what it needs:\n${section}")
endif()
message(STATUS "${PROGRAM} needs ${c_library} alone")
