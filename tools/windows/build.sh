#!/usr/bin/env bash
# Builds Retratix for 64-bit Windows on Debian 12, from Debian's archive alone, and its installer:
#   1. the cross compiler (mingw-w64), NSIS and the sources of Debian's qt6-base, sqlite3 and
#      postgresql-15 (a deb-src line is added when apt has none);
#   2. Qt for Windows from Debian's qt6-base source, Debian's own Qt as the host tools;
#   3. SQLite (sqlite3.dll) from Debian's sqlite3 source, the engine the Linux build uses;
#   4. libpq (libpq.dll) from Debian's postgresql-15 source;
#   5. Qt's SQLite and PostgreSQL drivers against them (Qt's ODBC driver comes with step 2);
#   6. Retratix itself, in build-win/;
#   7. the installer build-win/Retratix-VERSION-win64.exe (CPack's NSIS generator).
# Steps 2 to 5 are kept in ~/.cache/retratix/windows, each under a key of its inputs (source
# versions, compilers, options), and built again only when one of them changes. Everything is built
# at the lowest priority (nice 19). Prints each step, whether it was built or cached, and its time.
#
#   tools/windows/build.sh [--jobs N]
#
# Needs root (or sudo) only to install missing packages and to add the deb-src line.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)

jobs=$(nproc)
while [ $# -gt 0 ]; do
    case $1 in
        --jobs) jobs=${2:?--jobs needs a number}; shift 2 ;;
        *) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
    esac
done

renice -n 19 -p $$ >/dev/null
triplet=x86_64-w64-mingw32
toolchain=$source_dir/tools/windows/toolchain-mingw64.cmake
cache=${XDG_CACHE_HOME:-$HOME/.cache}/retratix/windows
build_dir=$source_dir/build-win
mkdir -p "$cache/src" "$cache/build"

report=()
current=
started=$(date +%s.%N)
seconds_since() { awk -v s="$1" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }'; }
begin() { current=$1; step_start=$(date +%s.%N); echo "== $current" >&2; }
end() { report+=("$(printf '%8s s  %s (%s)' "$(seconds_since "$step_start")" "$current" "$1")"); current=; }
finish() {
    local status=$?
    [ -z "$current" ] || report+=("$(printf '%8s s  %s' "$(seconds_since "$step_start")" "$current: FAILED")")
    printf '%s\n' "${report[@]}" >&2
    printf '%8s s  in all\n' "$(seconds_since "$started")" >&2
    exit $status
}
trap finish EXIT

# As install-deps.sh: root runs it directly, anyone else through sudo where it is allowed.
as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"
    elif command -v sudo >/dev/null 2>&1; then sudo "$@"
    else echo "build.sh: needs root for: $*" >&2; return 1
    fi
}

# The key of a step: a hash of everything that changes what it builds.
key_of() { printf '%s\n' "$@" | sha256sum | cut -c1-16; }
package_version() { dpkg-query -W -f='${Version}' "$1"; }
source_version() { dpkg-query -W -f='${source:Version}' "$1"; }
toolchain_id() {
    printf '%s\n' "$(sha256sum < "$toolchain")" cmake="$(package_version cmake)" \
        g++="$(package_version g++-mingw-w64-x86-64-posix)" \
        gcc="$(package_version gcc-mingw-w64-x86-64-posix)" \
        runtime="$(package_version mingw-w64-x86-64-dev)" \
        binutils="$(package_version binutils-mingw-w64-x86-64)"
}
# Removes the other cache entries of a step once a new one is complete.
prune() { local keep=$1 entry; for entry in "$(dirname "$keep")"/"$2"-*; do [ "$entry" = "$keep" ] || rm -rf "$entry"; done; }

# --- 1. packages and sources ------------------------------------------------------------------
begin "packages"
"$source_dir"/scripts/install-deps.sh mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix \
    nsis dpkg-dev tcl bison flex
end checked

begin "sources"
# apt-get source needs the archive's source index. Where apt has none, a sources file of our own
# names the same Debian archives and suites that apt installs binaries from.
if ! apt-cache showsrc qt6-base 2>/dev/null | grep -q '^Package: qt6-base$'; then
    list=/etc/apt/sources.list.d/retratix-src.sources
    if [ ! -e "$list" ]; then
        keyring=/usr/share/keyrings/debian-archive-keyring.gpg
        apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 'Created-By: Packages' 'Origin: Debian' |
            sort -u | awk -v keyring="$keyring" '
                { suites[$1] = ($1 in suites) ? suites[$1] " " $2 : $2 }
                END { for (uri in suites) {
                        printf "Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\n", uri, suites[uri]
                        if (system("test -r " keyring) == 0) printf "Signed-By: %s\n", keyring
                        printf "\n" } }' > "$cache/retratix-src.sources"
        [ -s "$cache/retratix-src.sources" ] || { echo "build.sh: apt names no Debian archive" >&2; exit 1; }
        as_root install -m 0644 "$cache/retratix-src.sources" "$list"
        echo "Added $list" >&2
    fi
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
fi

# Unpacks Debian's source package PACKAGE at VERSION (with Debian's patches) once; prints its folder.
fetch_source() {
    local package=$1 version=$2 dir=$cache/src/$1-$2 tmp
    if [ ! -f "$dir/.complete" ]; then
        rm -rf "$dir"
        tmp=$(mktemp -d "$cache/src/.fetch.XXXXXX")
        chmod 755 "$tmp"
        (cd "$tmp" && apt-get source -qq --download-only "$package=$version" >&2 &&
            dpkg-source -x ./*.dsc unpacked >/dev/null)
        mv "$tmp/unpacked" "$dir"
        rm -rf "$tmp"
        touch "$dir/.complete"
    fi
    echo "$dir"
}
qt_version=$(source_version qt6-base-dev)
sqlite_version=$(source_version libsqlite3-dev)
pq_version=$(source_version libpq-dev)
qt_source=$(fetch_source qt6-base "$qt_version")
sqlite_source=$(fetch_source sqlite3 "$sqlite_version")
pq_source=$(fetch_source "$(dpkg-query -W -f='${source:Package}' libpq-dev)" "$pq_version")
end "qt6-base $qt_version, sqlite3 $sqlite_version, postgresql $pq_version"

# --- 2. Qt ------------------------------------------------------------------------------------
# Debian's qt6-base keeps the bundled image, font and regular-expression libraries that Windows
# lacks; it drops SQLite (built in step 5) and the tablet header wintab.h (so no tablet events).
# OpenGL stays on: this Qt's Windows platform plugin needs it (loaded dynamically at run time).
qt_options=(
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
    -DQT_BUILD_TESTS=OFF -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_BENCHMARKS=OFF
    -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF
    -DFEATURE_system_pcre2=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF
    -DFEATURE_system_doubleconversion=OFF -DFEATURE_system_md4c=OFF
    -DFEATURE_tabletevent=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_vulkan=OFF
    -DFEATURE_sql_odbc=ON -DFEATURE_sql_sqlite=OFF -DFEATURE_sql_psql=OFF -DFEATURE_sql_mysql=OFF
    -DFEATURE_sql_ibase=OFF -DFEATURE_sql_oci=OFF -DFEATURE_sql_db2=OFF
)
qt_key=$(key_of "$qt_version" "$(package_version qt6-base-dev-tools)" "$(toolchain_id)" "${qt_options[@]}")
qt_prefix=$cache/qt-$qt_key
begin "Qt for Windows"
if [ -f "$qt_prefix/.complete" ]; then
    end cached
else
    rm -rf "$qt_prefix" "$cache/build/qt"
    log=$cache/build/qt.log
    { cmake -S "$qt_source" -B "$cache/build/qt" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_INSTALL_PREFIX="$qt_prefix" "${qt_options[@]}" &&
      cmake --build "$cache/build/qt" --parallel "$jobs"; } > "$log" 2>&1 || { tail -40 "$log" >&2; exit 1; }
    cmake --install "$cache/build/qt" > /dev/null
    rm -rf "$cache/build/qt"
    touch "$qt_prefix/.complete"
    prune "$qt_prefix" qt
    end "built, $(du -sh "$qt_prefix" | cut -f1) installed"
fi

# --- 3. SQLite --------------------------------------------------------------------------------
# Debian's sqlite3 source with Debian's patches, compiled with the options of Debian's own build
# (debian/rules), so the engine behaves on Windows as the Linux build's does.
sqlite_flags=$(sed -n '/^export CFLAGS += /,/^$/p' "$sqlite_source/debian/rules" | grep -o -- '-DSQLITE_[A-Z0-9_]*\(=[0-9]*\)\{0,1\}' | tr '\n' ' ')
sqlite_key=$(key_of "$sqlite_version" "$(toolchain_id)" "$sqlite_flags")
sqlite_prefix=$cache/sqlite-$sqlite_key
begin "SQLite for Windows"
if [ -f "$sqlite_prefix/.complete" ]; then
    end cached
else
    rm -rf "$sqlite_prefix" "$cache/build/sqlite"
    mkdir -p "$cache/build/sqlite" "$sqlite_prefix"/{bin,include,lib}
    log=$cache/build/sqlite.log
    # The single-file source is generated on the build machine (tclsh), then cross-compiled.
    { (cd "$cache/build/sqlite" && "$sqlite_source/configure" && make sqlite3.c) &&
      $triplet-gcc-posix -O2 -fno-strict-aliasing $sqlite_flags -shared \
        -o "$sqlite_prefix/bin/sqlite3.dll" "$cache/build/sqlite/sqlite3.c" \
        -Wl,--out-implib,"$sqlite_prefix/lib/libsqlite3.dll.a"; } > "$log" 2>&1 || { tail -40 "$log" >&2; exit 1; }
    cp "$cache/build/sqlite/sqlite3.h" "$cache/build/sqlite/sqlite3ext.h" "$sqlite_prefix/include/"
    rm -rf "$cache/build/sqlite"
    touch "$sqlite_prefix/.complete"
    prune "$sqlite_prefix" sqlite
    end "built, $(du -sh "$sqlite_prefix/bin/sqlite3.dll" | cut -f1) sqlite3.dll"
fi

# --- 4. libpq ---------------------------------------------------------------------------------
# Only the client library of Debian's postgresql-15 source. Debian has no OpenSSL, GSSAPI or LDAP
# built for Windows, so this libpq speaks without TLS: a data source asking for sslmode=require or
# stronger is refused by libpq with its own message (PostgreSQL through psqlODBC can use TLS).
pq_options=(--without-readline --without-zlib --without-icu --without-openssl --without-llvm
            --without-gssapi --without-ldap)
pq_key=$(key_of "$pq_version" "$(toolchain_id)" "${pq_options[@]}")
pq_prefix=$cache/libpq-$pq_key
begin "libpq for Windows"
if [ -f "$pq_prefix/.complete" ]; then
    end cached
else
    rm -rf "$pq_prefix" "$cache/build/libpq"
    mkdir -p "$cache/build/libpq"
    log=$cache/build/libpq.log
    { (cd "$cache/build/libpq" &&
        "$pq_source/configure" --host=$triplet --prefix="$pq_prefix" "${pq_options[@]}" \
            CC=$triplet-gcc-posix &&
        make -C src/interfaces/libpq -j"$jobs" && make -C src/interfaces/libpq install &&
        make -C src/include install); } > "$log" 2>&1 || { tail -40 "$log" >&2; exit 1; }
    rm -rf "$cache/build/libpq"
    touch "$pq_prefix/.complete"
    prune "$pq_prefix" libpq
    end "built, $(du -sh "$pq_prefix/bin/libpq.dll" 2>/dev/null | cut -f1) libpq.dll"
fi

# --- 5. Qt's SQLite and PostgreSQL drivers ----------------------------------------------------
# Built from the same Qt source against the SQLite and libpq above (Qt's ODBC driver came with Qt).
drivers_options=(-DFEATURE_sql_sqlite=ON -DFEATURE_system_sqlite=ON -DFEATURE_sql_psql=ON
                 -DFEATURE_sql_odbc=OFF -DFEATURE_sql_mysql=OFF -DFEATURE_sql_ibase=OFF
                 -DFEATURE_sql_oci=OFF -DFEATURE_sql_db2=OFF)
drivers_key=$(key_of "$qt_key" "$sqlite_key" "$pq_key" "${drivers_options[@]}")
drivers_prefix=$cache/drivers-$drivers_key
begin "Qt's SQL drivers for Windows"
if [ -f "$drivers_prefix/.complete" ]; then
    end cached
else
    rm -rf "$drivers_prefix" "$cache/build/drivers"
    log=$cache/build/drivers.log
    { cmake -S "$qt_source/src/plugins/sqldrivers" -B "$cache/build/drivers" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_PREFIX_PATH="$qt_prefix" -DRETRATIX_WINDOWS_PREFIXES="$qt_prefix;$sqlite_prefix;$pq_prefix" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DCMAKE_INSTALL_PREFIX="$drivers_prefix" \
        -DSQLite3_INCLUDE_DIR="$sqlite_prefix/include" -DSQLite3_LIBRARY="$sqlite_prefix/lib/libsqlite3.dll.a" \
        -DPostgreSQL_INCLUDE_DIR="$pq_prefix/include" -DPostgreSQL_LIBRARY="$pq_prefix/lib/libpq.a" \
        "${drivers_options[@]}" &&
      cmake --build "$cache/build/drivers" --parallel "$jobs" &&
      cmake --install "$cache/build/drivers"; } > "$log" 2>&1 || { tail -40 "$log" >&2; exit 1; }
    rm -rf "$cache/build/drivers"
    touch "$drivers_prefix/.complete"
    prune "$drivers_prefix" drivers
    end "built: $(cd "$drivers_prefix" && find . -name '*.dll' | sed 's|^\./||' | tr '\n' ' ')"
fi

# --- 6. Retratix ------------------------------------------------------------------------------
begin "Retratix for Windows"
prefixes="$qt_prefix;$drivers_prefix;$sqlite_prefix;$pq_prefix"
log=$build_dir/build.log
mkdir -p "$build_dir"
{ cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DRETRATIX_WERROR=ON -DCMAKE_CROSSCOMPILING_EMULATOR=wine \
    -DCMAKE_PREFIX_PATH="$qt_prefix" -DRETRATIX_WINDOWS_PREFIXES="$prefixes" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake &&
  cmake --build "$build_dir" --parallel "$jobs"; } > "$log" 2>&1 || { grep -B2 -A12 -m5 -E 'error|Error' "$log" >&2; exit 1; }
end "built in $build_dir"

# --- 7. the installer -------------------------------------------------------------------------
begin "installer"
(cd "$build_dir" && cpack -G NSIS > cpack.log 2>&1) || { tail -40 "$build_dir/cpack.log" >&2; exit 1; }
installer=$(ls "$build_dir"/Retratix-*-win64.exe)
end "$(basename "$installer"), $(du -h "$installer" | cut -f1)"
# Where tools/windows/test.sh finds what it needs.
printf '%s\n' "qt=$qt_prefix" "drivers=$drivers_prefix" "sqlite=$sqlite_prefix" "libpq=$pq_prefix" \
    > "$build_dir/prefixes.txt"
