# Shared by run.sh and test.sh: the Debian packages the project needs, installed when missing.
# Sourced, not run.

RUN_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev libpugixml-dev libcli11-dev
              libcfitsio-dev fonts-liberation2)
# Configuring a build tree also finds the test libraries.
CONFIGURE_PACKAGES=(libgtest-dev libtango-dev)
TEST_PACKAGES=(clang libclang-rt-14-dev clang-format fitsverify parallel
               xvfb xauth xfonts-base python3 python3-numpy python3-astropy python3-specutils
               python3-tango locales)
# The staged-install stage: computed package dependencies, package and desktop-entry checks.
PACKAGE_TEST_PACKAGES=(dpkg-dev file desktop-file-utils lintian)

# The one configuration of the build/ tree, shared by run.sh and test.sh so that either can
# run after the other without reconfiguring it.
NORMAL_BUILD_OPTIONS=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DWARNINGS_AS_ERRORS=ON)

# The comma-decimal locale that the tests of locale-independent numbers switch to.
TEST_LOCALE=de_DE.UTF-8

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

# Configures one build tree: configure_tree DIR [cmake options...]
configure_tree() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
}

# Configures and builds one build tree: configure_and_build DIR [cmake options...]
configure_and_build() {
    configure_tree "$@"
    cmake --build "$1" -j2
}

# Generates TEST_LOCALE when the system lacks it (needs the locales package).
ensure_test_locale() {
    if locale -a 2>/dev/null | grep -qix "${TEST_LOCALE/UTF-8/utf8}"; then
        return 0
    fi
    echo "Generating the locale $TEST_LOCALE"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo sed -i "s/^# *\($TEST_LOCALE UTF-8\)/\1/" /etc/locale.gen
    grep -q "^$TEST_LOCALE UTF-8" /etc/locale.gen ||
        echo "$TEST_LOCALE UTF-8" | $sudo tee -a /etc/locale.gen >/dev/null
    $sudo locale-gen >/dev/null
}
