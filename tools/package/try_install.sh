#!/usr/bin/env bash
# Installs the Debian package on a bare Debian 12, as apt installs it on a new machine, and tries it
# there: a minimal root made by debootstrap from the archive apt uses here, the package installed by
# apt-get in it (chroot), then inside: --version, the manual page, a headless upload into a SQLite
# database made from the packaged schema, and removal and purge, listing any file left. With
# --upgrade-from, then upgrades from an older package: one as shipped, one whose Polidex.ini an
# administrator edited. Prints each step and the time it took. Needs root and the network;
# ./test.sh does not run it.
#
#   tools/package/try_install.sh [--upgrade-from REVISION|OLD.deb] [PACKAGE.deb]
#
# PACKAGE.deb is by default the one package in build/ (`cd build && cpack -G DEB`). A REVISION is
# built (the program and the package's files only) in a throwaway worktree. The bare root is kept
# in ~/.cache/retratix for the next run; everything else goes under TMPDIR (/var/tmp by default)
# and is removed on every exit.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)

old_package=
if [ "${1:-}" = --upgrade-from ]; then
    old_package=${2:?--upgrade-from needs a revision or a package}
    shift 2
fi
if [ $# -gt 1 ] || [ "${1:-}" = -h ] || [ "${1:-}" = --help ]; then
    sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
fi
if [ $# -eq 1 ]; then
    package=$(realpath "$1")
else
    packages=("$source_dir"/build/retratix_*.deb)
    [ ${#packages[@]} -eq 1 ] && [ -f "${packages[0]}" ] || {
        echo "try_install: name the package; build/ holds ${#packages[@]}: ${packages[*]}" >&2
        exit 2
    }
    package=${packages[0]}
fi
[ -f "$package" ] || { echo "try_install: no package $package" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "try_install: debootstrap and chroot need root (sudo $0 ...)" >&2; exit 2; }

"$source_dir"/scripts/install-deps.sh debootstrap

suite=bookworm
arch=$(dpkg --print-architecture)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/retratix
bare_root_tarball=$cache/debian-$suite-minbase-$arch.tar.gz
work=$(mktemp -d "${TMPDIR:-/var/tmp}/retratix-try.XXXXXX")
root=$work/root
mounts=()
current=
worktrees=()
report=()
started=$(date +%s.%N)

seconds_since() { awk -v s="$1" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }'; }

# Unmounts first, and removes the root only when nothing is mounted in it any more.
cleanup() {
    local status=$? i
    [ -z "$current" ] || report+=("$(printf '%8s s  %s' "$(seconds_since "$step_start")" "$current: FAILED")")
    for ((i = ${#mounts[@]} - 1; i >= 0; --i)); do
        umount "${mounts[i]}" 2>/dev/null || umount -l "${mounts[i]}" || true
    done
    for tree in "${worktrees[@]}"; do
        git -C "$source_dir" worktree remove --force "$tree" >/dev/null 2>&1 || true
    done
    [ ${#worktrees[@]} -eq 0 ] || git -C "$source_dir" worktree prune
    if grep -q " $work/" /proc/mounts; then
        echo "try_install: still mounted under $work, left in place" >&2
    else
        rm -rf --one-file-system "$work"
    fi
    echo
    echo "Steps:"
    printf '%s\n' "${report[@]}"
    echo "Total: $(seconds_since "$started") s, $([ $status -eq 0 ] && echo passed || echo "FAILED (status $status)")"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# step TITLE COMMAND...: runs a step, says what and how long. A failing command ends the script
# (errexit holds in the steps, which are therefore never called as a condition).
step() {
    current=$1
    step_start=$(date +%s.%N)
    shift
    echo "== $current"
    "$@"
    report+=("$(printf '%8s s  %s' "$(seconds_since "$step_start")" "$current")")
    current=
}
fail() {
    echo "FAIL: $*" >&2
    return 1
}

# A command inside the root, in a clean environment.
inside() {
    chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
        XDG_RUNTIME_DIR=/run/user/0 DEBIAN_FRONTEND=noninteractive "$@"
}
# apt-get inside; its output goes to a log, of which the summary is shown (all of it on failure).
apt_inside() {
    local log=$work/apt.log
    if ! inside sh -c 'cd /tmp && apt-get "$@"' apt-get "$@" >"$log" 2>&1; then
        cat "$log" >&2
        return 1
    fi
    grep -E '^(W|E): |^[0-9]+ upgraded, [0-9]+ newly installed|^Preserving|^retratix: ' "$log" | sed 's/^/   /' || true
}

# The archive apt uses here (its sources, in either format), else Debian's own.
archive() {
    apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 2>/dev/null | awk -v s="$1" '$2 == s { print $1; exit }'
}
mirror=$(archive $suite)
mirror=${mirror:-http://deb.debian.org/debian/}
security=$(archive $suite-security)
security=${security:-http://deb.debian.org/debian-security/}

build_old_package() {
    local commit tree
    commit=$(git -C "$source_dir" rev-parse --short "$old_package^{commit}")
    tree=$work/revision-$commit
    git -C "$source_dir" worktree add --detach --quiet "$tree" "$commit"
    worktrees+=("$tree")
    echo "   $old_package ($commit)"
    # The program's and the package's targets alone: no tests.
    CCACHE_BASEDIR=$work CCACHE_NOHASHDIR=1 cmake -S "$tree" -B "$tree/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    CCACHE_BASEDIR=$work CCACHE_NOHASHDIR=1 cmake --build "$tree/build" --parallel "$(nproc)" \
        --target src/app/all packaging/all >"$work/old-build.log" 2>&1 || { tail -30 "$work/old-build.log" >&2; return 1; }
    (cd "$tree/build" && cpack -G DEB -B "$work/old" >"$work/old-cpack.log" 2>&1) || { cat "$work/old-cpack.log" >&2; return 1; }
    old_package=$(echo "$work"/old/retratix_*.deb)
    echo "   $(basename "$old_package")"
}

make_bare_root() {
    mkdir "$root"
    if [ -f "$bare_root_tarball" ]; then
        echo "   from $bare_root_tarball"
        tar -C "$root" --numeric-owner -xzf "$bare_root_tarball"
    else
        echo "   debootstrap --variant=minbase $suite from $mirror"
        debootstrap --variant=minbase --keyring=/usr/share/keyrings/debian-archive-keyring.gpg \
            "$suite" "$root" "$mirror" >"$work/debootstrap.log" 2>&1 || { tail -30 "$work/debootstrap.log" >&2; return 1; }
        mkdir -p "$cache"
        tar -C "$root" --numeric-owner -czf "$bare_root_tarball.new" . && mv "$bare_root_tarball.new" "$bare_root_tarball"
        echo "   kept as $bare_root_tarball"
    fi
    printf 'deb %s %s main\ndeb %s %s-updates main\ndeb %s %s-security main\n' \
        "$mirror" $suite "$mirror" $suite "$security" $suite >"$root/etc/apt/sources.list"
    cp -L /etc/resolv.conf "$root/etc/resolv.conf"
    # No service starts in the root (the package starts none; some dependency might).
    printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
    chmod 755 "$root/usr/sbin/policy-rc.d"
    mount -t proc proc "$root/proc" && mounts+=("$root/proc")
    mount --bind /dev "$root/dev" && mounts+=("$root/dev")
    if [ -d /dev/pts ]; then mount --bind /dev/pts "$root/dev/pts" && mounts+=("$root/dev/pts"); fi
    cp "$package" "$root/tmp/"
    [ -z "$old_package" ] || cp "$old_package" "$root/tmp/"
    cp "$source_dir/resources/splash_logo.jpg" "$root/tmp/foto.jpg"
    du -sxh "$root" | awk '{ print "   " $1 }'
}

# The tools of the checks, before the first look at the root's files, so that they stay out of
# the comparison.
prepare_root() {
    mkdir -p -m 700 "$root/run/user/0"
    apt_inside update -qq
    apt_inside install -y --no-install-recommends sqlite3 man-db
}

# Every path in the root but those apt, dpkg and the kernel keep for themselves.
list_files() {
    inside find / -xdev \( -path /proc -o -path /dev -o -path /sys -o -path /run -o -path /tmp \
        -o -path /var/lib/apt -o -path /var/lib/dpkg -o -path /var/cache/apt -o -path /var/cache/debconf \
        -o -path /var/log \) -prune -o -print | sort >"$1"
}

install_package() {
    apt_inside install -y "./$(basename "$1")"
}

check_installed() {
    local version links
    version=$(inside retratix --version) || fail "retratix --version exits $?"
    echo "   retratix --version: $version"
    [ "$version" = "Retratix $(dpkg-deb -f "$package" Version | sed 's/-[^-]*$//')" ] || fail "version $version"
    [ "$(readlink "$root/usr/bin/retratix")" = ../lib/retratix/retratix ] || fail "/usr/bin/retratix"
    [ "$(readlink "$root/usr/lib/retratix/Polidex.ini")" = /etc/retratix/Polidex.ini ] || fail "Polidex.ini link"
    for f in /etc/retratix/Polidex.ini /etc/default/retratix; do
        echo "   $(inside stat -c '%A %U:%G %n' "$f")"
        [ "$(inside stat -c '%a %U:%G' "$f")" = "640 root:retratix" ] || fail "$f is not 0640 root:retratix"
    done
    inside dpkg-statoverride --list | sed 's/^/   statoverride: /'
    inside getent passwd retratix | sed 's/^/   account: /'
    links=$(find "$root/etc/systemd" -name 'retratix*' 2>/dev/null)
    [ -z "$links" ] || fail "units enabled by the package: $links"
    echo "   no unit enabled"
}

check_manual() {
    local page
    page=$(inside sh -c 'MANWIDTH=80 man retratix 2>&1') || fail "man retratix: $page"
    echo "$page" | sed -n '1,4p' | sed 's/^/   | /'
    echo "   ... $(echo "$page" | wc -l) lines"
    grep -q '/etc/retratix/Polidex.ini' <<<"$page" || fail "the manual page names no /etc/retratix/Polidex.ini"
    # The page man-db formatted for its own cache is man-db's, left by this check, not the package.
    rm -f "$root/var/cache/man/cat1/retratix.1.gz"
}

# upload DATABASE MEMBER: a database made from the packaged schema, the configuration pointed at it
# (as the administrator edits it), a photo of MEMBER uploaded by the units' account, its report as PDF.
upload() {
    local db=/var/lib/retratix/$1 member=$2 out
    inside sqlite3 "$db" <"$root/usr/share/retratix/db/sqlite/schema.sql" >/dev/null
    inside sqlite3 "$db" "INSERT INTO INSTALACIONES VALUES (1, 'Prueba');
        INSERT INTO ABONADOS (CODINSTALACION, CODIGO, NOMBRE) VALUES (1, $member, 'Abonado de prueba');"
    inside chown retratix:retratix "$db"
    sed -i "s|^SID=.*|SID=sqlite:$db|" "$root/etc/retratix/Polidex.ini"
    mkdir -p "$root/srv/fotos"
    cp "$root/tmp/foto.jpg" "$root/srv/fotos/$member.jpg"
    inside chgrp -R retratix /srv/fotos
    chmod 2770 "$root/srv/fotos"
    chmod 640 "$root/srv/fotos/$member.jpg"
    out=$(inside sh -c 'umask 077 && install -d -o retratix -m 700 /tmp/runtime-retratix &&
        exec runuser -u retratix -- env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=/tmp/runtime-retratix \
            retratix --upload /srv/fotos --pdf /var/lib/retratix/informe.pdf' 2>&1) || fail "the upload exits $?: $out"
    echo "$out" | sed 's/^/   /'
    grep -q '1 fotos insertadas' <<<"$out" || fail "no photo inserted"
    [ ! -e "$root/srv/fotos/$member.jpg" ] || fail "the photo is still in the folder"
    [ "$(inside sqlite3 "$db" "SELECT FILESIZE FROM ABONADOSFOTOS WHERE CODIGO = $member")" = "$(stat -c %s "$root/tmp/foto.jpg")" ] ||
        fail "the photo is not in the database"
    [ "$(head -c 5 "$root/var/lib/retratix/informe.pdf")" = %PDF- ] || fail "no PDF report"
    echo "   stored in $db; report $(inside stat -c '%A %U %s bytes %n' /var/lib/retratix/informe.pdf)"
    rm -rf "$root/srv/fotos"
}

# As `systemctl enable` would (no systemd in the root): the purge must take these links away.
enable_units() {
    mkdir -p "$root/etc/systemd/system/timers.target.wants" "$root/etc/systemd/system/multi-user.target.wants"
    ln -s /lib/systemd/system/retratix-upload.timer "$root/etc/systemd/system/timers.target.wants/"
    ln -s /lib/systemd/system/retratix-watch.service "$root/etc/systemd/system/multi-user.target.wants/"
}

purge_package() {
    apt_inside purge -y retratix
    [ "${1:-}" = --keep-dependencies ] || apt_inside autoremove --purge -y
}

# What the purges left, against the list before the package came. Of this package (every path of
# its own names it) only the units' folder /var/lib/retratix may stay, which may hold originals and
# databases, and the account (kept as Debian keeps system accounts); no override of a file's mode,
# no unit's link. What the dependencies' purge left (systemd's machine-id, man-db's caches) is
# listed, not judged.
check_left() {
    local after=$work/after.txt left gone ours
    list_files "$after"
    left=$(comm -13 "$work/before.txt" "$after")
    gone=$(comm -23 "$work/before.txt" "$after")
    ours=$(grep -i retratix <<<"$left" || true)
    echo "${ours:-nothing}" | sed 's/^/   left of retratix: /'
    grep -iv retratix <<<"$left" | sed 's/^/   left by others (dependencies, account backups): /' || true
    inside getent passwd retratix | sed 's/^/   account kept: /'
    [ -z "$gone" ] || fail "gone since before the install: $gone"
    if grep -Ev '^/var/lib/retratix(/.*)?$' <<<"$ours"; then
        fail "files left that policy does not allow"
    fi
    ! inside dpkg-statoverride --list | grep retratix || fail "overrides left"
}

# An administrator's edit of the old package's Polidex.ini, kept by the upgrade at /etc/retratix.
edit_old_configuration() {
    local ini=$root/opt/retratix/bin/Polidex.ini
    [ -f "$ini" ] || fail "the old package has no /opt/retratix/bin/Polidex.ini"
    sed -i -e '1i ; Editado por el administrador' -e 's|^SID=.*|SID=sqlite:/var/lib/retratix/actualizacion.db|' "$ini"
    echo "   $(inside stat -c '%A %U:%G %n' /opt/retratix/bin/Polidex.ini)"
    inside dpkg-statoverride --list | sed 's/^/   statoverride: /'
}

# An unedited Polidex.ini of the old package gives way to the new one.
check_upgraded_unedited() {
    cmp "$root/etc/retratix/Polidex.ini" "$work/Polidex.ini.shipped" || fail "not the shipped Polidex.ini"
    [ ! -e "$root/etc/retratix/Polidex.ini.dpkg-new" ] || fail "a Polidex.ini.dpkg-new beside an unedited file"
    [ ! -e "$root/opt/retratix" ] || fail "/opt/retratix is left: $(find "$root/opt/retratix")"
    echo "   /etc/retratix/Polidex.ini as shipped; /opt/retratix gone"
    check_installed
}

check_upgraded() {
    local ini=$root/etc/retratix/Polidex.ini
    grep -q '^; Editado por el administrador' "$ini" && grep -q '^SID=sqlite:/var/lib/retratix/actualizacion.db' "$ini" ||
        fail "the edit did not survive"
    grep -q '^RptPath=/usr/share/retratix/reports/' "$ini" || fail "RptPath: $(grep RptPath "$ini")"
    echo "   $(inside stat -c '%A %U:%G %n' /etc/retratix/Polidex.ini): $(grep -c . "$ini") lines, the edit kept, $(grep '^RptPath' "$ini")"
    [ "$(inside stat -c '%a %U:%G' /etc/retratix/Polidex.ini)" = "640 root:retratix" ] || fail "mode or group changed"
    inside dpkg-statoverride --list | sed 's/^/   statoverride: /'
    inside dpkg-statoverride --list /etc/retratix/Polidex.ini >/dev/null || fail "no override for /etc/retratix/Polidex.ini"
    ! inside dpkg-statoverride --list /opt/retratix/bin/Polidex.ini >/dev/null || fail "the override of /opt stayed"
    [ ! -e "$root/opt/retratix" ] || fail "/opt/retratix is left: $(find "$root/opt/retratix")"
    ls "$root"/etc/retratix | sed 's/^/   \/etc\/retratix\//'
    check_installed
}

echo "Package: $package"
if [ -n "$old_package" ] && [ ! -f "$old_package" ]; then
    step "build the old package from $old_package" build_old_package
fi
step "bare Debian 12 root ($suite, minbase, $arch)" make_bare_root
step "apt-get update, tools for the checks (sqlite3, man-db)" prepare_root
list_files "$work/before.txt"
step "apt-get install -y ./$(basename "$package")" install_package "$package"
cp "$root/etc/retratix/Polidex.ini" "$work/Polidex.ini.shipped"
step "installed files, account, retratix --version" check_installed
step "man retratix" check_manual
step "headless upload into a database from the packaged schema" upload prueba.db 7
enable_units
step "apt-get purge retratix, autoremove --purge" purge_package
step "files left after the purge" check_left
if [ -n "$old_package" ]; then
    step "apt-get install -y ./$(basename "$old_package")" install_package "$old_package"
    step "upgrade, Polidex.ini unedited: apt-get install -y ./$(basename "$package")" install_package "$package"
    step "the shipped /etc/retratix/Polidex.ini, group and mode" check_upgraded_unedited
    step "apt-get purge retratix" purge_package --keep-dependencies
    step "apt-get install -y ./$(basename "$old_package")" install_package "$old_package"
    step "administrator edits /opt/retratix/bin/Polidex.ini" edit_old_configuration
    step "upgrade: apt-get install -y ./$(basename "$package")" install_package "$package"
    step "the edit kept in /etc/retratix/Polidex.ini, group and mode" check_upgraded
    step "headless upload with the upgraded configuration" upload actualizacion.db 8
    step "apt-get purge retratix, autoremove --purge" purge_package
    step "files left after the purge" check_left
fi
