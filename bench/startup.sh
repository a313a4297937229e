#!/bin/sh
# SPDX-License-Identifier: MIT
# Start-up cost of forked: the instructions each of its two processes executes,
# counted by callgrind, beside those of /bin/true, the floor for any
# dynamically linked program. Instruction counts, unlike times, repeat exactly
# from run to run and do not depend on what else the machine is doing.
#
#   bench/startup.sh [path/to/forked]    (default: build/release/forked)
set -eu

exe=${1:-build/release/forked}
[ -x "$exe" ] || { echo "startup.sh: no executable at $exe; run: cmake --workflow --preset release" >&2; exit 1; }
valgrind=$(command -v valgrind) || { echo "startup.sh: needs valgrind (Debian package valgrind)" >&2; exit 1; }

# Start-up work grows with the size of the environment, and moves by a few
# instructions with the program's path and the working directory. So both
# programs run with an empty environment from /, forked from a copy at a path
# of fixed length: the counts then depend on neither the caller's variables
# and folder nor where the tree lies. The parent's still moves by about a
# dozen instructions for each digit of the child's process ID, which it
# prints.
out=$(mktemp -d /tmp/startup.XXXXXX)
trap 'rm -rf "$out"' EXIT
cp "$exe" "$out/forked"

instructions() { sed -n 's/^summary: //p' "$1"; }

# count FILE PROGRAM [WRAPPER...]: PROGRAM started through WRAPPER, which
# execs what follows it.
count() {
    file=$1 program=$2; shift 2
    (cd / && env -i "$@" "$valgrind" -q --tool=callgrind --callgrind-out-file="$file" "$program")
}
count "$out/true.%p" /bin/true
# The parent takes one of two ways, each with its own calls: it ends without
# waiting as a job of its own, as an interactive shell starts one, and waits
# where it leads its session, which asks the most of the ways where it waits.
# Valgrind follows the child across fork and writes one file per process; the
# child's count, like its memory, includes everything before the fork.
# Reading through a pipe waits for both processes, not only the parent, and
# the parent's line names the child, whose pid is in its file's name.
perl=$(command -v perl) setsid=$(command -v setsid) ||
    { echo "startup.sh: needs perl and setsid (Debian packages perl-base and util-linux)" >&2; exit 1; }
# shellcheck disable=SC2016 # perl's own variables
count "$out/job.%p" "$out/forked" "$perl" -e 'setpgrp(0, 0); exec @ARGV or die "$!\n"' | cat >"$out/job.lines"
count "$out/leader.%p" "$out/forked" "$setsid" -w | cat >"$out/leader.lines"

floor=$(instructions "$out"/true.*)
printf '%-24s %12s %10s\n' process instructions "vs true"
printf '%-24s %12d\n' /bin/true "$floor"
row() { n=$(instructions "$2"); printf '%-24s %12d %+9.2f%%\n' "$1" "$n" "$(echo "$n $floor" | awk '{ print ($1 / $2 - 1) * 100 }')"; }
child() { sed -n 's/^fork() returns \([1-9][0-9]*\)$/\1/p' "$out/$1.lines"; }
job_child=$(child job) leader_child=$(child leader)
if [ -z "$job_child" ] || [ -z "$leader_child" ]; then
    echo "startup.sh: forked did not report a child:" >&2; cat "$out"/*.lines >&2; exit 1
fi
parent() { for f in "$out/$1".*[0-9]; do [ "$f" = "$out/$1.$2" ] || echo "$f"; done; }
row "forked (parent, a job)" "$(parent job "$job_child")"
row "forked (parent, waiting)" "$(parent leader "$leader_child")"
row "forked (child)" "$out/job.$job_child"
