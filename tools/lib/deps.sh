# Installs the Debian packages the launcher, its tests and its demo need,
# when they are missing. Sourced by the tools/*.sh scripts.

zorvan_packages=(
    g++ make cmake pkg-config
    qtbase5-dev qttools5-dev qttools5-dev-tools
    libtinyxml2-dev libsodium-dev
    xvfb xauth
    nginx-light curl
    clang-format
)

zorvan_install_missing() {
    local missing=() pkg
    for pkg in "${zorvan_packages[@]}" "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing missing packages: ${missing[*]}"
    local sudo=
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || { echo "need root (or sudo) to install: ${missing[*]}" >&2; return 1; }
        sudo=sudo
    fi
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# zorvan_build BUILD_DIR [cmake options...] builds the whole tree.
zorvan_build() {
    local dir=$1
    shift
    cmake -S "$zorvan_root" -B "$dir" "$@" >/dev/null
    cmake --build "$dir" -j"$(nproc)"
}
