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

count() { file=$1; shift; (cd / && env -i "$valgrind" -q --tool=callgrind --callgrind-out-file="$file" "$@"); }
count "$out/true.%p" /bin/true
# Valgrind follows the child across fork and writes one file per process; the
# child's count, like its memory, includes everything before the fork.
# Reading through a pipe waits for both processes, not only the parent, and
# the parent's line names the child, whose pid is in its file's name.
count "$out/forked.%p" "$out/forked" | cat > "$out/lines"
child=$(sed -n 's/^fork() returns \([1-9][0-9]*\)$/\1/p' "$out/lines")
[ -n "$child" ] || { echo "startup.sh: forked did not report a child:" >&2; cat "$out/lines" >&2; exit 1; }

floor=$(instructions "$out"/true.*)
printf '%-16s %12s %10s\n' process instructions "vs true"
printf '%-16s %12d\n' /bin/true "$floor"
for f in "$out"/forked.*; do
    if [ "$f" = "$out/forked.$child" ]; then who="forked (child)"; else who="forked (parent)"; fi
    n=$(instructions "$f")
    printf '%-16s %12d %+9.2f%%\n' "$who" "$n" "$(echo "$n $floor" | awk '{ print ($1 / $2 - 1) * 100 }')"
done
