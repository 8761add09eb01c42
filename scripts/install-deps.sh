#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and the tests need and
# the machine lacks. Asks the package manager only for absent packages, so a
# second run does nothing. Works as root or through sudo.
set -euo pipefail

packages=(
  g++ make cmake pkg-config
  libinih-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libfec-dev          # independent Reed-Solomon codec, tests and benchmarks only
  libhamlib-utils     # rigctld, the real keying peer in the tests
  clang libclang-rt-14-dev   # libFuzzer and the sanitizer runtimes
  valgrind
  gnuplot-nox
  libcurl4-openssl-dev   # the forwarder's HTTP(S) client
  nlohmann-json3-dev     # reads packet log lines (untrusted input)
  # The Windows cross-build (`make windows`) and its tests under wine
  g++-mingw-w64-x86-64-posix   # the -posix thread model: std::thread, std::mutex
  googletest                   # GoogleTest's sources, built with mingw
  wine wine64                  # runs the Windows tests and the TNC on this machine
  nsis zip groff-base          # the Windows zip and installer, manuals as text
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
if [[ $(id -u) -eq 0 ]]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "install-deps: missing ${missing[*]} and neither root nor sudo is available" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
