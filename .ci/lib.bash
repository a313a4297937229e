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

# skip_names FILE: the names of the skips in a ctest log, one a line, as
# each reason starts: "[name] why" (unnamed where a reason has none).
skip_names() {
  sed -n '/: Skipped$/{n;s/^\[\([a-z0-9-]*\)\] .*/\1/p;t;s/.*/unnamed/p}' "$1" | sort -u
}

# check_skips BUILD [NAME...]: ctest names a skipped test but not why; the
# reason is in its log. CI's machine offers every case what it needs, so a
# skip fails unless its name is among NAMES, or is no-pid-namespace where
# this machine refuses root a PID namespace, as a container may: found by
# trying, and said.
check_skips() {
  local name log=$1/Testing/Temporary/LastTest.log refused allowed
  shift
  allowed=" $* "
  [ -f "$log" ] || { echo "$log is missing: did the tests run?" >&2; return 1; }
  if ! refused=$(unshare --pid --fork true 2>&1); then
    echo "this machine gives root no PID namespace ($refused): the case that needs one may skip"
    allowed+="no-pid-namespace "
  fi
  sed -n '/: Skipped$/{n;s/^/skipped: /p}' "$log"
  for name in $(skip_names "$log"); do
    [[ $allowed == *" $name "* ]] || { echo "nothing should skip on this machine for $name" >&2; return 1; }
  done
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
