#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running need, and those named as
# arguments (a tool's own, such as clang for fuzzing); quiet when all are present.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config ccache
  qt6-base-dev libgl-dev libsqlite3-dev libpq-dev libheif-dev
  libqt6sql6-sqlite libqt6sql6-psql libqt6sql6-odbc
  unixodbc odbc-postgresql postgresql
  qt6-translations-l10n fontconfig fonts-dejavu-core
  poppler-utils xvfb xauth
  openssl dpkg-dev file lintian
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

# Installing packages is the one step that needs root: as root apt-get runs directly, otherwise
# through sudo (asking for a password only where there is a terminal to ask on). Without sudo, or
# when it is refused, the script names the packages and stops.
SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  refuse() {
    echo "These Debian packages are missing: ${missing[*]}" >&2
    echo "$1 Install them as root, then run this command again:" >&2
    echo "  apt-get install --no-install-recommends ${missing[*]}" >&2
    exit 1
  }
  command -v sudo >/dev/null 2>&1 || refuse "sudo is not available to install them."
  if [ -t 0 ]; then
    sudo -v || refuse "sudo refused to install them."
    SUDO=(sudo)
  else
    sudo -n true 2>/dev/null || refuse "sudo cannot install them without a password here."
    SUDO=(sudo -n)
  fi
fi
echo "Installing: ${missing[*]}"
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
