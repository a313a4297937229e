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

# debian_mirror: the Debian mirror this machine's apt uses, from its sources
# in either format: the first that serves more than security updates. Roots
# come from it, since a machine may reach no other.
debian_mirror() {
  {
    for f in /etc/apt/sources.list.d/*.sources; do
      [ -f "$f" ] || continue
      awk 'BEGIN { RS = ""; FS = "\n" }
        { types = uris = suites = ""
          for (i = 1; i <= NF; i++) {
            if ($i ~ /^Types:/) types = $i
            else if ($i ~ /^URIs:/) uris = $i
            else if ($i ~ /^Suites:/) suites = $i
          }
          if (types ~ /[: ]deb( |$)/ && suites !~ /security/ && split(uris, u, " ") > 1) print u[2] }' "$f"
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
      [ -f "$f" ] || continue
      awk '$1 == "deb" { i = 2
             if ($i ~ /^\[/) { while (i < NF && $i !~ /\]$/) i++; i++ }
             if ($(i + 1) !~ /security/) print $i }' "$f"
    done
  } | head -n 1
}

# debian_root ROOT SUITES [MMDEBSTRAP_OPTION...]: makes in ROOT, a folder
# not yet there, a Debian root with mmdebstrap from the main component of
# each of SUITES (separated by commas, the release first) on debian_mirror,
# as the options ask: --include=..., --architectures=amd64,ARCH,
# --customize-hook=.... Where none can be made here, it says why in one line
# and ends the calling script with status 0; any other failure fails. Should
# a script die with the root's mounts in place, the host's /dev must not go
# with the root: remove it with rm --one-file-system.
debian_root() {
  local root=$1 suites=$2 mirror refused status=0 start=$SECONDS suite list sources=()
  shift 2
  mirror=$(debian_mirror)
  [ -n "$mirror" ] || { echo "skipped: this machine's apt sources name no Debian mirror for $suites"; exit 0; }
  IFS=, read -ra list <<<"$suites"
  for suite in "${list[@]}"; do sources+=("deb $mirror $suite main"); done
  mkdir "$root"
  # Every mount made for a root is made in a mount namespace of its own, and
  # goes when the command that made it ends.
  refused=$(unshare --mount --propagation private mount -t tmpfs none "$root" 2>&1) || {
    echo "skipped: a root of $suites needs a mount namespace of its own, and this machine gives none: $refused"
    exit 0
  }
  timeout 900 unshare --mount --propagation private mmdebstrap --variant=apt "$@" "${list[0]}" "$root" "${sources[@]}" \
    >"$root.log" 2>&1 </dev/null || status=$?
  [ "$status" -ne 124 ] || { echo "skipped: the Debian mirror did not deliver $suites within 15 minutes"; exit 0; }
  if [ "$status" -ne 0 ]; then
    grep -qE '^E: (apt-get update .*failed|Failed to fetch)' "$root.log" || { cat "$root.log" >&2; return "$status"; }
    echo "skipped: the Debian mirror did not serve $suites: $(grep -m 1 '^E: ' "$root.log")"
    exit 0
  fi
  echo "a root of Debian $suites in $((SECONDS - start)) s, from $mirror"
}

# in_root ROOT SCRIPT [ARG...]: runs the bash SCRIPT, set -e, with ARGs as its
# $1..., in ROOT with its own proc, dev and an empty tmp, all mounted in a
# mount namespace of its own, and a user's clean environment, HOME=/root.
in_root() {
  # shellcheck disable=SC2016 # the inner shell expands its own arguments
  unshare --mount --propagation private sh -ec '
    mount -t proc proc "$1/proc"
    mount --rbind /dev "$1/dev"
    mount -t tmpfs tmpfs "$1/tmp"
    root=$1 script=$2; shift 2
    exec chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root bash -ec "$script" bash "$@"' sh "$@"
}

# readme_commands TITLE: the commands the README gives in a sh block under
# the comment "# TITLE", up to the next comment or the block's end; fails
# where it gives none. CI runs these, here and in the hosted workflow, so
# that users' commands are the ones checked, with no copy to drift.
readme_commands() {
  awk -v title="# $1" '
    /^```sh$/ { block = 1; next }
    /^```$/ { block = taking = 0; next }
    block && /^#/ { taking = ($0 == title); next }
    taking && NF { print; found = 1 }
    END { if (!found) print "README.md gives no commands under \"" title "\"" > "/dev/stderr"
          exit !found }' README.md
}

# built_version TREE: the version that the configured build TREE packs.
built_version() { sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$1/CPackConfig.cmake"; }

# both_lines STATUS OUTPUT: whether one run of the program ended as it
# must: exit status 0, and one line from each side, either first.
both_lines() {
  local lines
  lines=$(LC_ALL=C sort <<<"$2")
  [ "$1" -eq 0 ] && [[ $lines =~ ^'fork() returns 0'$'\n''fork() returns '[1-9][0-9]*$ ]]
}
