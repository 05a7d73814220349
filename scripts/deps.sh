# Sourced by the run and test scripts: installs the Debian packages that are missing.
# Root or sudo is needed only when something is missing.
tessaly_install_missing() {
    local missing=()
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

TESSALY_BUILD_PACKAGES=(cmake make g++ pkg-config qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev libvulkan-dev libxkbcommon-dev
                        libbenchmark-dev libnetcdf-dev zlib1g-dev pybind11-dev python3-dev python3-numpy)
# The real-data samples and their tests: ncdump/ncgen and the COADS climatology; the Python
# package's plots, examples and tests.
TESSALY_DATA_PACKAGES=(netcdf-bin ferret-datasets python3-matplotlib python3-xarray python3-pytest)

# Writes samples/coads-jan.gri and coads-jul.gri from the COADS climatology (winds and
# sea-level pressure) when ferret-datasets is installed.
tessaly_real_samples() {
    local build=$1 out=$2
    local coads=/usr/share/ferret-vis/data/coads_climatology.cdf
    [ -f "$coads" ] || { echo "no $coads (ferret-datasets): real samples skipped"; return 0; }
    "$build/tools/import/tessaly-import" "$coads" "$out/coads-jan.gri" --scalar SLP --time 0 --scalar-range 975:1045 --flow-scale 0.1
    "$build/tools/import/tessaly-import" "$coads" "$out/coads-jul.gri" --scalar SLP --time 6 --scalar-range 975:1045 --flow-scale 0.1
}

# What both the run and the test script need first: the packages, then a Release build in $1.
tessaly_install_and_build() {
    tessaly_install_missing "${TESSALY_BUILD_PACKAGES[@]}" "${TESSALY_DATA_PACKAGES[@]}" qt6-qpa-plugins fonts-dejavu-core
    tessaly_build "$1"
}

tessaly_build() {
    local dir=$1; shift
    cmake -S "$TESSALY_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
    cmake --build "$dir" -j "$(nproc)"
}

# Installs the Python package (import tessaly) into the system interpreter's site-packages
# under /usr/local, when it was built. Root or sudo is needed only when that folder is not
# writable.
tessaly_install_python() {
    local dir=$1
    [ -d "$dir/python/tessaly" ] || { echo "Python package not built: pybind11-dev missing"; return 0; }
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo cmake --install "$dir" --component python >/dev/null
}
