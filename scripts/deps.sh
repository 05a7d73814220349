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

TESSALY_BUILD_PACKAGES=(cmake make g++ qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev libvulkan-dev libxkbcommon-dev
                        libbenchmark-dev)

tessaly_build() {
    local dir=$1; shift
    cmake -S "$TESSALY_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
    cmake --build "$dir" -j "$(nproc)"
}
