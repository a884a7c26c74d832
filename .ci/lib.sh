# What the scripts in .ci share; sourced by them.

section() { printf '\n=== %s\n' "$*"; }

# The Debian packages, named as the build names them: the library's after its SOVERSION,
# the major version that its header states.
ci_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
zarngen_major=$(sed -n 's/^#define ZARNGEN_VERSION_MAJOR \([0-9][0-9]*\)$/\1/p' \
  "$ci_root/include/zarngen/support.h")
debian_packages=(gorvic "libzarngen$zarngen_major" libzarngen-dev)

# Removes them (one dpkg call orders them itself); quiet where they are not installed.
purge_debian_packages() {
  dpkg --purge "${debian_packages[@]}" >/dev/null 2>&1 || true
}
