# Builds a static Qt for x86_64-w64-mingw32 from Debian's own qtbase source
# package, once, into a cache directory outside the checkout. Later runs (and
# CI on the same machine) find it there and skip the build.
# Sourced by tools/windows.sh; sets zorvan_win_qt, zorvan_win_tinyxml2 and
# zorvan_win_libsodium to the installed prefixes.
#
# The cache key holds the source package's version, the compiler's version
# and the configure options, so a change to any of them builds a new Qt
# beside the old one.

zorvan_win_home=${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)}
zorvan_win_cache=${ZORVAN_CACHE_DIR:-${XDG_CACHE_HOME:-$zorvan_win_home/.cache}/zorvan-launcher}

# OpenGL, D-Bus, ICU and OpenSSL are not needed: the launcher paints with the
# raster engine and fetches over plain HTTP. Debian's dfsg tarball lacks the
# wintab and sqlite sources, hence no tablet events and no SQL drivers.
zorvan_win_qt_options=(
    -xplatform win32-g++ -device-option CROSS_COMPILE=x86_64-w64-mingw32-
    -platform linux-g++
    -opensource -confirm-license -release -static -static-runtime
    -nomake examples -nomake tests -no-compile-examples
    -no-opengl -no-dbus -no-icu -no-openssl -no-feature-tabletevent -no-sql-sqlite -no-sql-odbc
    -qt-zlib -qt-libpng -qt-libjpeg -qt-pcre -qt-freetype -qt-harfbuzz
    -no-feature-printer -no-feature-concurrent
)

# Adds a deb-src entry for the archive the machine already uses, so that
# apt-get source finds the same qtbase as the binary packages.
zorvan_win_enable_sources() {
    local list=/etc/apt/sources.list.d/zorvan-deb-src.sources
    if apt-get source --print-uris -q qtbase-opensource-src >/dev/null 2>&1; then
        return 0
    fi
    local sudo=
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo tee "$list" >/dev/null <<'SOURCES'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    $sudo apt-get update -q >/dev/null
}

zorvan_win_build_qt() {
    zorvan_win_enable_sources
    local version compiler key
    version=$(apt-cache showsrc qtbase-opensource-src | sed -n 's/^Version: //p' | sort -V | tail -1)
    compiler=$(x86_64-w64-mingw32-g++-posix -dumpfullversion)
    key=$(printf '%s\n' "$version" "$compiler" "${zorvan_win_qt_options[@]}" | sha256sum | cut -c1-12)
    zorvan_win_qt=$zorvan_win_cache/qt-${version%%+*}-mingw64-static-$key
    if [ -f "$zorvan_win_qt/.complete" ]; then
        echo "Qt for Windows: cached in $zorvan_win_qt"
        return 0
    fi

    echo "Qt for Windows: building qtbase $version into $zorvan_win_qt (about 40 minutes on 2 cores)"
    local work=$zorvan_win_cache/work-$key
    rm -rf "$work" "$zorvan_win_qt"
    mkdir -p "$work"
    (cd "$work" && apt-get source -q qtbase-opensource-src="$version" >/dev/null 2>&1)
    local src
    src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'qtbase-opensource-src-*' | head -1)
    mkdir -p "$work/build"
    (
        cd "$work/build"
        # The posix thread model is the only one Debian installs; the
        # unsuffixed names point at it through the alternatives, but the
        # mkspec calls them by their plain names, so put the posix ones
        # first on PATH.
        mkdir -p "$work/bin"
        local tool
        for tool in gcc g++ c++ cpp; do
            ln -sf "/usr/bin/x86_64-w64-mingw32-$tool-posix" "$work/bin/x86_64-w64-mingw32-$tool"
        done
        export PATH=$work/bin:$PATH
        "$src/configure" -prefix "$zorvan_win_qt" "${zorvan_win_qt_options[@]}" > "$work/configure.log" 2>&1 \
            || { tail -40 "$work/configure.log"; exit 1; }
        make -j"$(nproc)" > "$work/make.log" 2>&1 || { tail -60 "$work/make.log"; exit 1; }
        make install > "$work/install.log" 2>&1 || { tail -40 "$work/install.log"; exit 1; }
    )
    touch "$zorvan_win_qt/.complete"
    rm -rf "$work"
}

# Fetches Debian's source package $1 for a static build for the target, to
# be installed into a cache directory named after its version and keyed by
# that version, the version of compiler $2 and the options that follow.
# Sets zorvan_win_prefix (the install directory), zorvan_win_work (a fresh
# work directory) and zorvan_win_src (the unpacked source), which stays
# empty when the prefix is already complete: nothing to build then.
zorvan_win_fetch_source() {
    local package=$1 compiler=$2 version key
    shift 2
    zorvan_win_enable_sources
    version=$(apt-cache showsrc "$package" | sed -n 's/^Version: //p' | sort -V | tail -1)
    key=$(printf '%s\n' "$version" "$("$compiler" -dumpfullversion)" "$@" | sha256sum | cut -c1-12)
    zorvan_win_prefix=$zorvan_win_cache/$package-${version%%[-+]*}-mingw64-static-$key
    zorvan_win_work=$zorvan_win_cache/work-$package-$key
    zorvan_win_src=
    if [ -f "$zorvan_win_prefix/.complete" ]; then
        echo "$package for Windows: cached in $zorvan_win_prefix"
        return 0
    fi
    echo "$package for Windows: building $version into $zorvan_win_prefix"
    rm -rf "$zorvan_win_work" "$zorvan_win_prefix"
    mkdir -p "$zorvan_win_work"
    (cd "$zorvan_win_work" && apt-get source -q "$package=$version" >/dev/null 2>&1)
    zorvan_win_src=$(find "$zorvan_win_work" -mindepth 1 -maxdepth 1 -type d -name "$package-*" | head -1)
}

# Marks the build zorvan_win_fetch_source started as complete.
zorvan_win_finish_source() {
    touch "$zorvan_win_prefix/.complete"
    rm -rf "$zorvan_win_work"
}

# tinyxml2 from Debian's own source package, as a static library for the
# target, installed with its CMake package files beside the Qt build.
zorvan_win_build_tinyxml2() {
    zorvan_win_fetch_source tinyxml2 x86_64-w64-mingw32-g++-posix static
    zorvan_win_tinyxml2=$zorvan_win_prefix
    [ -n "$zorvan_win_src" ] || return 0
    local work=$zorvan_win_work
    cmake -S "$zorvan_win_src" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$zorvan_root/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -Dtinyxml2_BUILD_TESTING=OFF -DBUILD_TESTING=OFF \
        -DCMAKE_INSTALL_PREFIX="$zorvan_win_tinyxml2" > "$work/configure.log" 2>&1 \
        || { tail -30 "$work/configure.log"; return 1; }
    cmake --build "$work/build" -j"$(nproc)" --target install > "$work/build.log" 2>&1 \
        || { tail -30 "$work/build.log"; return 1; }
    zorvan_win_finish_source
}

# libsodium from Debian's own source package, as a static library for the
# target: it verifies the studio's signatures in a launcher built with an
# update key. Debian's tarball carries no configure script (the package
# regenerates it), so autoreconf makes one. --build is given as well as
# --host so that configure never tries to run a target program (binfmt
# would hand it to Wine and configure would think it is not cross-compiling).
zorvan_win_sodium_options=(
    --host=x86_64-w64-mingw32 --disable-shared --enable-static --disable-dependency-tracking
    CFLAGS=-O2
)

zorvan_win_build_libsodium() {
    zorvan_win_fetch_source libsodium x86_64-w64-mingw32-gcc-posix "${zorvan_win_sodium_options[@]}"
    zorvan_win_libsodium=$zorvan_win_prefix
    [ -n "$zorvan_win_src" ] || return 0
    local work=$zorvan_win_work
    (
        cd "$zorvan_win_src"
        autoreconf -fi > "$work/autoreconf.log" 2>&1 || { tail -30 "$work/autoreconf.log"; exit 1; }
        ./configure --build="$(gcc -dumpmachine)" CC=x86_64-w64-mingw32-gcc-posix \
            --prefix="$zorvan_win_libsodium" "${zorvan_win_sodium_options[@]}" > "$work/configure.log" 2>&1 \
            || { tail -30 "$work/configure.log"; exit 1; }
        make -j"$(nproc)" > "$work/make.log" 2>&1 || { tail -30 "$work/make.log"; exit 1; }
        make install > "$work/install.log" 2>&1 || { tail -30 "$work/install.log"; exit 1; }
    )
    zorvan_win_finish_source
}
