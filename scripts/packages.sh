# Installs the Debian packages given as arguments that are not installed yet.
ensure_packages() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "== Installing ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo=sudo
        $sudo apt-get -o DPkg::Lock::Timeout=600 update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq "${missing[@]}" >/dev/null
    fi
}

# The Debian archive that apt uses (deb.debian.org when none is named).
debian_mirror() {
    local uri
    uri=$(sed -n -e 's|^URIs: *\([^ ]*/debian\)/*$|\1|p' -e 's|^deb \(\[[^]]*\] \)\{0,1\}\([^ ]*/debian\)/* .*|\2|p' \
        /etc/apt/sources.list /etc/apt/sources.list.d/* 2>/dev/null | head -n 1)
    echo "${uri:-http://deb.debian.org/debian}"
}

# Makes DIR a Debian 11 root file system with GCC and CMake, once: later
# runs find it made. The Linux release is built there, against glibc 2.31
# and GCC 10's C++ runtime, which (unlike a newer system's) bind none of
# their calls to a newer glibc.
ensure_debian11_root() {
    local dir=$1 packages=g++,make,cmake
    [ "$(cat "$dir/.packages" 2>/dev/null)" = "$packages" ] && return
    ensure_packages debootstrap
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    echo "== Making a Debian 11 root in $dir"
    $sudo rm -rf "$dir" "$dir.new"
    mkdir -p "$(dirname "$dir")"
    if ! $sudo debootstrap --variant=minbase --include="$packages" bullseye "$dir.new" "$(debian_mirror)" >"$dir.log" 2>&1; then
        tail -n 20 "$dir.log"
        echo "debootstrap failed (the whole log: $dir.log)"
        return 1
    fi
    echo "$packages" | $sudo tee "$dir.new/.packages" >/dev/null
    $sudo mv "$dir.new" "$dir"
}
