#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs forked as a user would on any POSIX system, with no test framework,
# and checks what its processes wrote and how the parent ended.
#
#   test/posix_check.sh PROGRAM
set -u
prog=${1:?usage: posix_check.sh PROGRAM}
t=$(mktemp -d) || exit 1
trap 'rm -rf "$t"' EXIT
passed=0 failed=0 skipped=0 n=0

# In the background only so that $! names the program, whose parent's line
# must carry another process's ID.
start() { "$@" 2>"$d/err" & echo $! >"$d/pid"; wait $!; echo $? >"$d/status"; }

# run STDOUT COMMAND...: STDOUT is pipe, file, closed, gone (a pipe whose
# reader has closed it before the program starts) or a device. Only Linux
# lets a test wait for the orphaned child, so instead every process inherits
# a pipe on descriptor 3, whose reader sees end-of-file once all have exited.
# A child that never ends is left behind after 10 s holding none of this
# script's own output, so whoever runs the script is not kept waiting.
run() {
  how=$1; shift; n=$((n + 1)); d=$t/$n; mkdir "$d"; : >"$d/out"
  # exec, because some shells keep a copy of what a redirection replaced.
  ( exec >/dev/null 2>&1
    { case $how in
        pipe) start "$@" | cat >"$d/out" ;;
        file) start "$@" >"$d/out" ;;
        closed) start "$@" >&- ;;
        # A write that kills its subshell shows that no reader is left,
        # not even the shell's own copy of the pipe.
        gone) { while (printf x) 2>/dev/null; do sleep 0.1; done; start "$@"; } | exec <&- ;;
        *) start "$@" >"$how" ;;
      esac; } 3>&1 | { cat; : >"$d/done"; } ) &
  # sleep takes fractions on every system this runs on, though POSIX asks only for whole seconds.
  i=0; while [ ! -e "$d/done" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
  [ -e "$d/done" ]
}

said='fork() returns '  # before each value: the one place this script spells it

# Both lines, each once, in either order and nothing else, the parent's
# with an ID not its own; a silent exit 0.
reported() {
  run "$@" || return
  c=$(sed -n "s/^$said\([1-9][0-9]*\)\$/\1/p" "$d/out")
  { printf "$said%s\\n$said%s\\n" "$c" 0 | cmp -s - "$d/out" ||
    printf "$said%s\\n$said%s\\n" 0 "$c" | cmp -s - "$d/out"; } &&
    [ "$c" != "$(cat "$d/pid")" ] && [ ! -s "$d/err" ] && [ "$(cat "$d/status")" = 0 ]
}

# Each process says why its write failed, and the parent exits 1.
write_failed() {
  run "$@" || return
  [ "$(grep -c '^forked: write error: ' "$d/err")" = 2 ] && [ "$(grep -vc '^forked: write error: ' "$d/err")" = 0 ] &&
    [ "$(cat "$d/status")" = 1 ]
}

# Ended by SIGPIPE, as the shell reports that signal, with nothing said: a
# process that ignored it would say that its write failed.
killed_by_sigpipe() {
  run "$@" && [ "$(cat "$d/status")" = "$sigpipe" ] && [ ! -s "$d/err" ]
}

check() {
  name=$1; shift
  if "$@"; then passed=$((passed + 1)); echo "pass: $name"; return; fi
  failed=$((failed + 1)); echo "FAIL: $name"
  [ -e "$d/done" ] || echo "  still running after 10 s"
  for f in pid status out err; do [ -e "$d/$f" ] && sed "s/^/  $f: /" "$d/$f"; done
}

check "standard output a pipe" reported pipe "$prog"
check "standard output a file" reported file "$prog"
check "arguments and an all but empty environment" reported pipe env -i PATH="$PATH" "$prog" a b ''
if [ -e /dev/full ]; then check "standard output a full device" write_failed /dev/full "$prog"
else skipped=$((skipped + 1)); echo "skip: standard output a full device: this system has no /dev/full"; fi
check "standard output closed" write_failed closed "$prog"
# How this shell reports an end by SIGPIPE; 0 where whoever started the
# script ignored or blocked the signal, which no shell can then restore for
# its children: there the write fails instead, as it must.
sigpipe=$(sh -c 'kill -s PIPE $$'; echo $?)
if [ "$sigpipe" -gt 128 ]; then check "standard output a pipe whose reader has gone" killed_by_sigpipe gone "$prog"
else check "standard output a pipe whose reader has gone, SIGPIPE ignored or blocked" write_failed gone "$prog"; fi

echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" = 0 ]
