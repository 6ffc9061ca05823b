# Shared set-up of run.sh and test.sh: installs the Debian packages that are missing, then
# configures and builds into build/. Sourced, not run.

VLM_PACKAGES=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev
  libfluidsynth-dev timgm6mb-soundfont qt6-base-dev fonts-ipafont-gothic clang libclang-rt-14-dev
  shared-mime-info desktop-file-utils xdg-utils libfile-mimeinfo-perl)

vlm_install_missing() {
  local missing=()
  for p in "${VLM_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  echo "Installing missing packages: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
  fi
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

vlm_build() {
  local dir="$1"; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}
