#!/usr/bin/env bash
# Installs those of the given Debian packages that are not installed yet (apt; as
# root, or through sudo). Quiet when everything is there.
#
#   scripts/install-packages.sh PACKAGE...
set -uo pipefail

missing=()
for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}
echo "== installing ${missing[*]}"
as_root apt-get update -q || {
    echo "install-packages: apt-get update failed" >&2
    exit 1
}
as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" || {
    echo "install-packages: cannot install ${missing[*]}" >&2
    exit 1
}
