# shellcheck shell=bash
# What the scripts in .ci share; sourced by them.

section() { printf '\n=== %s\n' "$*"; }

# The versions, where the build takes them from: the release's in CMakeLists.txt's
# project(), the library's in its header, whose major number is its SOVERSION. The Debian
# packages, named as the build names them: the library's after that SOVERSION.
ci_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck disable=SC2034  # for the scripts that source this
gorvic_version=$(sed -n 's/^project(gorvic VERSION \([0-9.]*\) .*/\1/p' "$ci_root/CMakeLists.txt")
zarngen_major=$(sed -n 's/^#define ZARNGEN_VERSION_MAJOR \([0-9][0-9]*\)$/\1/p' \
  "$ci_root/include/zarngen/support.h")
# shellcheck disable=SC2034  # for the scripts that source this
zarngen_version=$(sed -n 's/^#define ZARNGEN_VERSION_[A-Z]* \([0-9][0-9]*\)$/\1/p' \
  "$ci_root/include/zarngen/support.h" | paste -sd.)
debian_packages=(gorvic "libzarngen$zarngen_major" libzarngen-dev)

# Removes them (one dpkg call orders them itself); quiet where they are not installed.
purge_debian_packages() {
  dpkg --purge "${debian_packages[@]}" >/dev/null 2>&1 || true
}

# apt-get update, once for .ci/run and the scripts it starts.
apt_update_once() {
  [ "${GORVIC_CI_APT_UPDATED:-}" != yes ] || return 0
  DEBIAN_FRONTEND=noninteractive apt-get update -qq
  export GORVIC_CI_APT_UPDATED=yes
}

# Stops the script that sourced this, naming it.
fail() {
  echo "${0##*/}: $*" >&2
  exit 1
}

# The sources as a clone has them (tracked and new files, no ignored ones), copied to DEST.
copy_sources() {  # copy_sources DEST
  (cd "$ci_root" && git ls-files -co --exclude-standard | tar -cf - -T -) | tar -xf - -C "$1"
}

# A workflow that packs, its output in build/PRESET.log, shown when it fails. A warning
# fails it too: a build that warns every time teaches its readers to skip warnings.
pack() {  # pack PRESET
  cmake --workflow --preset "$1" >"build/$1.log" 2>&1 ||
    { tail -n 40 "build/$1.log"; fail "the $1 workflow failed"; }
  ! grep -i -A3 warning "build/$1.log" || fail "the $1 workflow printed a warning"
}
# The same workflow in the copy of the sources in DIR: each FILE it makes there must be
# the same bytes as here.
pack_again() {  # pack_again DIR PRESET FILE...
  local dir=$1 preset=$2 file
  shift 2
  (cd "$dir" && cmake --workflow --preset "$preset") >"build/$preset-second.log" 2>&1 ||
    { tail -n 40 "build/$preset-second.log"; fail "the second $preset workflow failed"; }
  for file in "$@"; do
    cmp "$file" "$dir/$file" || fail "not reproducible: $file differs between two builds"
  done
}

# The example program, built by WHAT, must print the parts list's table.
expect_parts_table() {  # expect_parts_table PROGRAM WHAT
  "$1" <"$ci_root/tests/consumer/parts.txt" | diff - "$ci_root/tests/consumer/parts.expected" ||
    fail "$2 printed the wrong table"
}
# Builds the example with find_package into DIR and runs it; its log is build/NAME.log,
# after DIR's last part.
find_package_build() {  # find_package_build DIR WHAT [CMAKE_ARGUMENT...]
  local dir=$1 what=$2 log
  log=$ci_root/build/${1##*/}.log
  shift 2
  cmake -S "$ci_root/examples" -B "$dir" -G Ninja "$@" >"$log" 2>&1 &&
    cmake --build "$dir" >>"$log" 2>&1 || { cat "$log"; fail "$what failed"; }
  expect_parts_table "$dir/parts_list" "$what"
}
