# Sourced by scripts/test and scripts/demo: package set-up and the build.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Debian 12 packages the build, the tests and the demo need.
PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgtest-dev libgmock-dev
  fonts-ipafont-gothic
  clang libclang-rt-14-dev
  iproute2 util-linux
  inetutils-telnetd
  xvfb xauth
  ccache
  desktop-file-utils appstream man-db groff-base librsvg2-bin
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"
  elif command -v sudo >/dev/null; then sudo "$@"
  else echo "need root (or sudo) to run: $*" >&2; return 1
  fi
}

install_missing() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "== installing: ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# configure DIR [cmake options...]
configure() {
  local dir=$1; shift
  # ccache, where present, makes rebuilds of unchanged files (and of other checkouts) cheap.
  local launcher=()
  if command -v ccache >/dev/null; then
    export CCACHE_BASEDIR="$ROOT"
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  fi
  cmake -S "$ROOT" -B "$ROOT/$dir" -G Ninja "${launcher[@]}" "$@" >/dev/null
}

# build DIR [cmake options...]; BUILD_TARGETS="a b" builds only those targets.
build() {
  configure "$@"
  local targets=()
  for t in ${BUILD_TARGETS:-}; do targets+=(--target "$t"); done
  cmake --build "$ROOT/$1" "${targets[@]}"
}
