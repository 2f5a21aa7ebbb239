#!/usr/bin/env bash
# Sets up a Debian 12 machine for Korozia, builds it, and then either starts
# the program or runs every test.
#
#   scripts/korozia.sh run     install what is missing, build, start the program
#   scripts/korozia.sh test    install what is missing, build, run every test
#
# BUILD_DIR (default: build) names the build folder.
set -euo pipefail

mode=${1:-}
case "$mode" in
  run|test) ;;
  *) echo "usage: $0 run|test" >&2; exit 2 ;;
esac

cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}

# Qt Charts' CMake package asks for Qt OpenGL's, which qt6-charts-dev does
# not pull in: hence libqt6opengl6-dev.
packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libqt6sql6-sqlite libsqlite3-dev qt6-qpa-plugins libgl-dev
  qt6-charts-dev qt6-svg-dev libqt6opengl6-dev
  libbenchmark-dev fonts-liberation
  libcsv-dev libxlsxwriter-dev zlib1g-dev python3-openpyxl
  poppler-utils xvfb xauth xdotool openbox x11-utils desktop-file-utils appstream dpkg-dev file locales
  cups-daemon cups-client
  libpq-dev postgresql-15 libqt6sql6-psql
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The number formats are tested under a Russian and an English locale.
for loc in ru_RU.UTF-8 en_US.UTF-8; do
  if ! locale -a 2>/dev/null | grep -qi "^${loc%.*}\.utf-\?8$"; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo sed -i "s/^# *\(${loc} UTF-8\)/\1/" /etc/locale.gen
    grep -q "^${loc} UTF-8" /etc/locale.gen || echo "${loc} UTF-8" | $sudo tee -a /etc/locale.gen >/dev/null
    $sudo locale-gen >/dev/null
  fi
done

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build"

if [ "$mode" = run ]; then
  exec "$build/src/app/korozia"
fi
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
