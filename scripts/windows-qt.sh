# shellcheck shell=bash
# Sourced by build-windows.sh: builds Qt for Windows (x86_64, MinGW-w64) once, from Debian's own
# source package of the host's Qt, into a cache folder that later runs reuse. Qt's host tools
# (moc, rcc, uic) come from the host's Qt, which must be the same version.

# Only what the programs and the tests use; the rest is left out to keep the build short.
VELMORA_QT_WINDOWS_OPTIONS=(
    -release -opensource -confirm-license -nomake examples -nomake tests
    -xplatform win32-g++ -qt-host-path /usr
    -no-opengl -no-feature-vulkan -no-direct2d -no-dbus -no-icu -no-zstd
    -no-feature-network -no-feature-sql -no-feature-xml -no-feature-printsupport
    -no-feature-concurrent -no-feature-tabletevent -no-feature-androiddeployqt
    -no-libjpeg -no-gif
    -qt-zlib -qt-pcre -qt-harfbuzz -qt-libpng -qt-freetype
)

# The compilers and where the cross-built libraries are; Qt's own toolchain file chains to a copy
# of this kept in the cache, so the cache works from any checkout.
velmora_write_mingw_toolchain() {
    cat >"$1" <<'EOF'
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF
}

# Debian's source lists, made from the machine's own binary ones (whichever format they are in).
velmora_add_deb_src() {
    local out=/etc/apt/sources.list.d/velmora-deb-src.sources
    [ -f "$out" ] && return 0
    local f
    : >"$out.tmp"
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        [ "$f" = "$out" ] && continue
        awk 'BEGIN { RS = ""; ORS = "\n\n" }
             /(^|\n)Types:[^\n]*deb([ \n]|$)/ && !/(^|\n)Enabled: *no/ {
                 gsub(/(^|\n)#[^\n]*/, "");
                 sub(/Types:[^\n]*/, "Types: deb-src"); print }' "$f" >>"$out.tmp"
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        sed -n 's/^deb \(.*\)$/deb-src \1/p' "$f"
    done >"${out%.sources}.list.tmp"
    mv "$out.tmp" "$out"
    mv "${out%.sources}.list.tmp" "${out%.sources}.list"
    apt-get update -qq
}

# Qt 6.4's windows platform plugin uses the DirectWrite font database whenever DirectWrite is
# there, but Qt Gui builds that database only with Direct2D on; ask for both, as Qt Gui does.
velmora_patch_qt_source() {
    local f=src/plugins/platforms/windows/qwindowsintegration.cpp
    grep -q 'directwrite3) && QT_CONFIG(direct2d)' "$f" && return 0
    sed -i 's/#if QT_CONFIG(directwrite3)$/#if QT_CONFIG(directwrite3) \&\& QT_CONFIG(direct2d)/' "$f"
    grep -q 'directwrite3) && QT_CONFIG(direct2d)' "$f"
}

# Prints the prefix of a Qt for Windows of the host's Qt version, building it first if the cache
# has none made with these options.
velmora_qt_for_windows() {
    local cache=$1
    local version
    version=$(dpkg-query -W -f='${Version}' qt6-base-dev)
    local upstream=${version%%+*}
    upstream=${upstream%%-*}
    local prefix=$cache/qt-$upstream-windows-x64
    local key="$version ${VELMORA_QT_WINDOWS_OPTIONS[*]} file-prefix-map"
    if [ -f "$prefix/velmora-stamp" ] && [ "$(cat "$prefix/velmora-stamp")" = "$key" ]; then
        echo "Qt $upstream for Windows: reusing $prefix" >&2
        echo "$prefix"
        return 0
    fi
    echo "Qt $upstream for Windows: building into $prefix (half an hour or more on two cores)" >&2
    local start=$SECONDS
    velmora_add_deb_src >&2
    rm -rf "$cache/src" "$cache/build" "$prefix"
    mkdir -p "$cache/src" "$cache/build"
    velmora_write_mingw_toolchain "$cache/mingw-w64.cmake"
    (cd "$cache/src" && apt-get source -qq "qt6-base=$version") >&2
    local src
    src=$(find "$cache/src" -maxdepth 1 -mindepth 1 -type d -name 'qt6-base-*' | head -1)
    (cd "$src" && velmora_patch_qt_source) >&2
    # Qt keeps source paths for its assertion messages: relative ones, so no path of this machine
    # ships in its DLLs.
    (cd "$cache/build" &&
        "$src/configure" -prefix "$prefix" "${VELMORA_QT_WINDOWS_OPTIONS[@]}" -- -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$cache/mingw-w64.cmake" \
            -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
            -DCMAKE_C_FLAGS="-ffile-prefix-map=$cache=." \
            -DCMAKE_CXX_FLAGS="-ffile-prefix-map=$cache=." >"$cache/configure.log" 2>&1) ||
        { tail -40 "$cache/configure.log" >&2; return 1; }
    cmake --build "$cache/build" -j "$(nproc)" >"$cache/build.log" 2>&1 ||
        { tail -40 "$cache/build.log" >&2; return 1; }
    cmake --install "$cache/build" >"$cache/install.log" 2>&1 ||
        { tail -20 "$cache/install.log" >&2; return 1; }
    rm -rf "$cache/src" "$cache/build"
    echo "$key" >"$prefix/velmora-stamp"
    echo "Qt $upstream for Windows: built in $((SECONDS - start)) s" >&2
    echo "$prefix"
}
