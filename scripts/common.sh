# Sourced by scripts/test and scripts/demo: package set-up and the build.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Debian 12 packages the build, the tests and the demo need.
PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgtest-dev libgmock-dev
  fonts-ipafont-gothic
  iproute2 util-linux
  inetutils-telnetd
  xvfb xauth
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

# build DIR [cmake options...]
build() {
  local dir=$1; shift
  cmake -S "$ROOT" -B "$ROOT/$dir" -G Ninja "$@" >/dev/null
  cmake --build "$ROOT/$dir"
}
