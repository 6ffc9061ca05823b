# Shared set-up of run.sh and test.sh: installs the Debian packages that are missing, then
# configures and builds into build/. Sourced, not run.

# What ./run.sh needs to build and run the programs. A package the programs or the build need
# goes here.
VLM_PACKAGES=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev
  libfluidsynth-dev timgm6mb-soundfont qt6-base-dev fonts-ipafont-gothic
  shared-mime-info desktop-file-utils xdg-utils libfile-mimeinfo-perl
  qt6-translations-l10n qt6-l10n-tools)
# What ./test.sh and scripts/package.sh need besides: clang for the sanitizer and fuzz builds,
# the manual page tools and bash completion of the install test, and dpkg-shlibdeps and file for
# the package.
VLM_TEST_PACKAGES=(clang libclang-rt-14-dev man-db groff-base bash-completion dpkg-dev file)

vlm_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

# vlm_install_missing [PACKAGE...]: installs what is missing of VLM_PACKAGES and the packages
# named.
vlm_install_missing() {
  local missing=()
  for p in "${VLM_PACKAGES[@]}" "$@"; do
    if ! vlm_installed "$p"; then
      missing+=("$p")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  # libfluidsynth-dev needs the JACK development files of either JACK 1 (libjack-dev) or
  # JACK 2 (libjack-jackd2-dev). Left to itself apt-get takes the first, JACK 1, and so removes
  # a JACK 2 the user has installed. Name the one that fits what is there: JACK 1 only where
  # its library already is, JACK 2 otherwise (Debian 12's jackd also prefers jackd2).
  if printf '%s\n' "${missing[@]}" | grep -qx libfluidsynth-dev &&
    ! vlm_installed libjack-dev && ! vlm_installed libjack-jackd2-dev; then
    if vlm_installed libjack0; then
      missing+=(libjack-dev)
    else
      missing+=(libjack-jackd2-dev)
    fi
  fi
  echo "Installing missing packages: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
  fi
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
  # --no-remove: installing what the project needs never takes away a package the user has;
  # apt-get stops instead and says which package stands in the way.
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    --no-remove "${missing[@]}"
}

# vlm_build DIR [CMAKE-OPTION...] [-- TARGET...]: configures and builds DIR (every target, or the
# targets named after --).
vlm_build() {
  local dir="$1"; shift
  local options=() targets=()
  while [ $# -gt 0 ]; do
    if [ "$1" = "--" ]; then
      shift
      targets=(--target "$@")
      break
    fi
    options+=("$1")
    shift
  done
  cmake -S . -B "$dir" -G Ninja "${options[@]}" >/dev/null
  cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
}

# The conversions that train the optimisation profiles: every golden input and example, read and
# written in the common output families, one at a time so that the counts are the same each run.
VLM_TRAINING_CODES=(mid mld mld-4 mld-40 mld-pcm24so mmf mmf40 pmd dxm)

vlm_train_profile() {
  local converter="$1" profiles="$2" out
  rm -rf "$profiles"
  mkdir -p "$profiles"
  out="$(mktemp -d)"
  for code in "${VLM_TRAINING_CODES[@]}"; do
    "$converter" convert --to "$code" -d "$out/$code" -j 1 --force tests/golden/inputs examples \
      >/dev/null 2>&1 || true
  done
  rm -rf "$out"
}

# vlm_build_optimised DIR [CMAKE-OPTION...] [-- TARGET...]: the build of test.sh, benchmarks and
# packages, optimised with profiles of its own conversions when the compiler is GCC (set
# VLM_PGO=OFF in the environment for a plain build): an instrumented converter is built in
# DIR-train, trained, and DIR is built from the profiles. run.sh builds once, without profiles,
# to be quick.
vlm_build_optimised() {
  local dir="$1"; shift
  local options=() rest=("$@")
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    options+=("$1")
    shift
  done
  local compiler="${CXX:-c++}"
  if [ "${VLM_PGO:-ON}" = "OFF" ] || ! "$compiler" --version 2>/dev/null | grep -q "Free Software Foundation"; then
    vlm_build "$dir" "${rest[@]}"
    return
  fi
  local profiles="$PWD/$dir-train/profiles"
  cmake -S . -B "$dir-train" -G Ninja -DVLM_PGO=GENERATE "-DVLM_PGO_DIR=$profiles" \
    -DVLM_BENCH=OFF "${options[@]}" >/dev/null
  cmake --build "$dir-train" --target vlmconv -j "$(nproc)"
  vlm_train_profile "$dir-train/bin/vlmconv" "$profiles"
  vlm_build "$dir" -DVLM_PGO=USE "-DVLM_PGO_DIR=$profiles" "${rest[@]}"
}
