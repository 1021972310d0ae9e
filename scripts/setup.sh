#!/usr/bin/env bash
# Installs every Debian package Kelvra needs to build, test, benchmark and package.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-format clang-14 libclang-rt-14-dev xvfb xauth
  desktop-file-utils appstream lintian dpkg-dev file man-db poppler-utils qpdf
  pandoc weasyprint fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi

# Another apt (an unattended upgrade, a second build) may hold the package locks for a while:
# wait for it rather than fail. apt waits for the dpkg lock itself; the package lists' lock of
# `apt-get update` it does not wait for, so that is tried again while the lock is the reason.
wait_seconds=900
apt_get() {
  local deadline=$((SECONDS + wait_seconds)) log status said=""
  log="$(mktemp)"
  while true; do
    status=0
    $SUDO apt-get -o DPkg::Lock::Timeout="$wait_seconds" "$@" 2>"$log" || status=$?
    if [ "$status" -ne 0 ] && grep -q "Could not get lock" "$log" && [ "$SECONDS" -lt "$deadline" ]; then
      [ -n "$said" ] || grep -m1 "Could not get lock" "$log" | sed 's/^E: /Waiting: /' >&2
      said=1
      sleep 5
      continue
    fi
    cat "$log" >&2
    rm -f "$log"
    return "$status"
  done
}

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt_get update -qq
apt_get install -y -qq --no-install-recommends "${missing[@]}"
