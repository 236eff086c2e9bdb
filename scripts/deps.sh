# Shared by run.sh and test.sh: the Debian packages the project needs, installed when missing.
# Sourced, not run.

RUN_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev libpugixml-dev libcli11-dev
              fonts-liberation2)
TEST_PACKAGES=(libgtest-dev clang libclang-rt-14-dev clang-format libcfitsio-dev fitsverify
               xvfb xauth xfonts-base python3 python3-numpy python3-astropy)

# Installs the named packages that are not installed yet; quiet, and quick when none is
# missing. Waits for the apt lock instead of failing when another apt runs.
ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get -o DPkg::Lock::Timeout=600 update -qq >/dev/null
    $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
}

# Configures and builds one build tree: configure_and_build DIR [cmake options...]
configure_and_build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j2
}
