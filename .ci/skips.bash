# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# check_skips BUILD [ALLOWED], for the CI scripts to source. ctest names a
# skipped test but not why; the reason is in its log. CI's machine offers
# every case what it needs, so a skip fails unless it matches ALLOWED (an
# extended regular expression), or is the PID-namespace case's where this
# machine refuses root a PID namespace, as a container may: found by trying,
# and said.
check_skips() {
  local reason log=$1/Testing/Temporary/LastTest.log allowed=${2:-} refused
  [ -f "$log" ] || { echo "$log is missing: did the tests run?" >&2; return 1; }
  if ! refused=$(unshare --pid --fork true 2>&1); then
    echo "this machine gives root no PID namespace ($refused): the case that needs one may skip"
    allowed="${allowed:+$allowed|}^needs a PID namespace of its own"
  fi
  while IFS= read -r reason; do
    echo "skipped: $reason"
    [[ -n $allowed && $reason =~ $allowed ]] || { echo "nothing should skip on this machine" >&2; return 1; }
  done < <(sed -n '/: Skipped$/{n;p}' "$log")
}
