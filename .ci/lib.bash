# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# What the CI scripts share; each sources it from the top of the tree.

# install_missing PACKAGE...: the Debian packages not yet installed, with
# nothing asked and waiting for another apt at work rather than failing.
install_missing() {
  local package missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -q update
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -q install -y --no-install-recommends \
    "${missing[@]}"
}

# check_skips BUILD [ALLOWED]: ctest names a skipped test but not why; the
# reason is in its log. CI's machine offers every case what it needs, so a
# skip fails unless it matches ALLOWED (an extended regular expression), or
# is the PID-namespace case's where this machine refuses root a PID
# namespace, as a container may: found by trying, and said.
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

# shared_folder USER NAME: makes a folder NAME.XXXXXX, open to all, where
# root and USER can both run programs, and prints its path: in the tree's
# build/ where the tree's folders are open to all, or else in a temporary
# folder not mounted noexec. Tried in turn; what would not do is said on
# standard error.
shared_folder() {
  local user=$1 name=$2 parent dir
  for parent in "$PWD/build" /var/tmp /tmp; do
    mkdir -p "$parent"
    dir=$(mktemp -d "$parent/$name.XXXXXX")
    chmod 755 "$dir"
    printf '#!/bin/sh\nexit 0\n' >"$dir/try"
    chmod 755 "$dir/try"
    if "$dir/try" 2>/dev/null &&
       setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups "$dir/try" 2>/dev/null; then
      rm "$dir/try"
      echo "$dir"
      return
    fi
    echo "$parent will not do: root and $user cannot both run programs there" >&2
    rm -rf "$dir"
  done
  echo "no folder here lets both root and $user run programs" >&2
  return 1
}

# both_lines STATUS OUTPUT: whether one run of the program ended as it
# must: exit status 0, and one line from each side, either first.
both_lines() {
  local lines
  lines=$(LC_ALL=C sort <<<"$2")
  [ "$1" -eq 0 ] && [[ $lines =~ ^'fork() returns 0'$'\n''fork() returns '[1-9][0-9]*$ ]]
}
