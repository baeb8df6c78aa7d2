# shellcheck shell=bash
# Sourced by build-windows.sh: packs the Windows programs with exactly the DLLs they load.

# Where the DLLs the programs import come from: Qt for Windows, then the MinGW runtime.
velmora_windows_dll_dirs() {
    local qt=$1
    echo "$qt/bin"
    echo /usr/lib/gcc/x86_64-w64-mingw32/*-posix
    echo /usr/x86_64-w64-mingw32/lib
}

# The DLL names a PE file imports, one a line.
velmora_pe_imports() {
    x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p'
}

# Copies into folder every DLL that the PE files there import, and those DLLs' own imports,
# from the build's DLL folders; what none of them has must come with Windows itself. Prints the
# Windows DLLs so found, one a line.
velmora_copy_imports() {
    local folder=$1 qt=$2
    local -a dirs queue
    mapfile -t dirs < <(velmora_windows_dll_dirs "$qt")
    mapfile -t queue < <(find "$folder" -type f \( -iname '*.exe' -o -iname '*.dll' \))
    declare -A seen=()
    local system=()
    while [ ${#queue[@]} -gt 0 ]; do
        local pe=${queue[0]}
        queue=("${queue[@]:1}")
        local dll
        while read -r dll; do
            local key=${dll,,}
            [ -n "${seen[$key]:-}" ] && continue
            seen[$key]=1
            local found="" d
            for d in "${dirs[@]}"; do
                found=$(find "$d" -maxdepth 1 -iname "$dll" -print -quit 2>/dev/null)
                [ -n "$found" ] && break
            done
            if [ -z "$found" ]; then
                system+=("$dll")
                continue
            fi
            cp "$found" "$folder/"
            queue+=("$folder/$(basename "$found")")
        done < <(velmora_pe_imports "$pe")
    done
    printf '%s\n' "${system[@]}" | sort -f
}

# velmora_pack_windows BUILD QT VERSION OUT.zip: the programs, their plugins and DLLs, and a
# README.txt, in one folder zipped.
velmora_pack_windows() {
    local build=$1 qt=$2 version=$3 zip=$4
    local name
    name=$(basename "$zip" .zip)
    local stage=$build/pack/$name
    rm -rf "$build/pack" "$zip"
    mkdir -p "$stage/platforms" "$stage/styles"
    # Qt puts a Windows build's programs beside their DLLs, at the top of the build folder.
    cp "$build/velmora.exe" "$build/velmora-probe.exe" "$stage/"
    # Loaded by name at run time, so no import table lists them: the platform itself, and the
    # style that draws native Windows controls.
    cp "$qt/plugins/platforms/qwindows.dll" "$stage/platforms/"
    cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$stage/styles/"
    local system
    system=$(velmora_copy_imports "$stage" "$qt")
    # Release builds carry no debug DLLs; strip what symbols are left.
    find "$stage" -type f \( -iname '*.exe' -o -iname '*.dll' \) \
        -exec x86_64-w64-mingw32-strip --strip-unneeded {} +
    sed "s/@VERSION@/$version/" scripts/windows-readme.txt | sed 's/$/\r/' >"$stage/README.txt"
    cp LICENSE "$stage/LICENSE.txt"
    # The terms of the libraries shipped beside the programs: Qt's, as Debian states them for the
    # source package this Qt was built from, the MinGW runtime's, and the licence texts they name.
    mkdir -p "$stage/licences"
    cp /usr/share/doc/libqt6core6/copyright "$stage/licences/Qt.txt"
    cp /usr/share/doc/gcc-mingw-w64-x86-64-posix-runtime/copyright \
        "$stage/licences/libstdc++-and-libgcc.txt"
    cp /usr/share/doc/mingw-w64-x86-64-dev/copyright "$stage/licences/winpthreads.txt"
    cp /usr/share/common-licenses/LGPL-3 "$stage/licences/LGPL-3.txt"
    cp /usr/share/common-licenses/GPL-3 "$stage/licences/GPL-3.txt"

    # Nothing of this machine may show in what is shipped.
    local leaks
    leaks=$(grep -rlaE "$HOME|/root/|/work/|$(pwd)" "$stage" || true)
    if [ -n "$leaks" ]; then
        echo "build paths found in: $leaks" >&2
        return 1
    fi
    (cd "$build/pack" && zip -qr9 "$OLDPWD/$zip" "$name")
    echo "Packed $zip ($(du -k "$zip" | cut -f1) KiB):"
    (cd "$build/pack" && find "$name" -type f | sort | while read -r f; do
        printf '  %-52s %6s KiB\n' "$f" "$(du -k "$f" | cut -f1)"
    done)
    echo "From Windows itself: $(echo "$system" | tr '\n' ' ')"
}
