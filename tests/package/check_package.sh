#!/usr/bin/env bash
# Builds the Debian package from a built tree and checks it: its files and control data, lintian's
# verdict, the hardening of its units and of its executable, then the unpacked program, started
# through a link as /usr/bin/retratix is, uploading a photo into a SQLite database made from the
# packaged schema with the shipped Polidex.ini (reached through its link beside the program), with
# the units' umask and (as root) as an account of the units' kind.
# Usage: check_package.sh SOURCE_DIR BUILD_DIR MAKE_DEMO_DATA
set -euo pipefail
source_dir=$(realpath "$1")
build=$(realpath "$2")
make_demo_data=$3

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# No display; Qt wants a private runtime folder.
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$tmp/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# The package goes to a folder of its own, so that the build folder's packages stay as they were.
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/out" >"$tmp/cpack.log" 2>&1 || {
    cat "$tmp/cpack.log" >&2
    exit 1
}
debs=("$tmp"/out/retratix_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "FAIL: no single package: ${debs[*]}" >&2; exit 1; }
deb=${debs[0]}
echo "Package: $(basename "$deb") ($(stat -c %s "$deb") bytes)"

# Exactly the files of the install rules, nothing else (no tests, benches, fuzz targets).
expected=(
    /etc/default/retratix
    /etc/retratix/Polidex.ini
    /lib/systemd/system/retratix-upload.service
    /lib/systemd/system/retratix-upload.timer
    /lib/systemd/system/retratix-watch.service
    /usr/bin/retratix
    /usr/lib/retratix/Polidex.ini
    /usr/lib/retratix/retratix
    /usr/share/applications/retratix.desktop
    /usr/share/doc/retratix/changelog.Debian.gz
    /usr/share/doc/retratix/copyright
    /usr/share/icons/hicolor/64x64/apps/retratix.png
    /usr/share/lintian/overrides/retratix
    /usr/share/man/man1/retratix.1.gz
)
for f in "$source_dir"/reports/*.rpt; do expected+=("/usr/share/retratix/reports/${f##*/}"); done
for f in "$source_dir"/db/*/*.sql; do expected+=("/usr/share/retratix/db/${f#"$source_dir"/db/}"); done
listing=$(dpkg-deb -c "$deb")
actual=$(awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' <<<"$listing" | sort)
diff <(printf '%s\n' "${expected[@]}" | sort) <(echo "$actual") >"$tmp/files.diff" ||
    fail "files differ from the expected (< missing, > extra):$(echo; cat "$tmp/files.diff")"
grep -Eq '^-rwxr-xr-x root/root .* \./usr/lib/retratix/retratix$' <<<"$listing" ||
    fail "the program is not an executable owned by root"
# They may hold the database's password: the postinst gives their group to the units' account.
for f in /etc/default/retratix /etc/retratix/Polidex.ini; do
    grep -Eq "^-rw-r----- root/root .* \.$f\$" <<<"$listing" || fail "$f is not 0640 root/root"
done
# The program finds its configuration beside itself, in its own folder.
grep -Eq '^l.* \./usr/bin/retratix -> \.\./lib/retratix/retratix$' <<<"$listing" ||
    fail "/usr/bin/retratix is not a relative link to /usr/lib/retratix/retratix"
grep -Eq '^l.* \./usr/lib/retratix/Polidex\.ini -> /etc/retratix/Polidex\.ini$' <<<"$listing" ||
    fail "/usr/lib/retratix/Polidex.ini is not a link to /etc/retratix/Polidex.ini"

# Control data.
[ "$(dpkg-deb -f "$deb" Package)" = retratix ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Architecture)" = "$(dpkg --print-architecture)" ] || fail "architecture"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for p in adduser libqt6core6 libqt6gui6 libqt6widgets6 libqt6sql6 libqt6printsupport6 \
    libqt6sql6-sqlite libqt6sql6-psql libqt6sql6-odbc; do
    grep -Eq "(^|, )$p( |,|$)" <<<"$depends" || fail "Depends lacks $p"
done
grep -Eq -- '-dev( |,|$)' <<<"$depends" && fail "Depends names a development package"
dpkg-deb -e "$deb" "$tmp/control"
[ "$(sort "$tmp/control/conffiles")" = "$(printf '%s\n' /etc/default/retratix /etc/retratix/Polidex.ini)" ] ||
    fail "conffiles: $(cat "$tmp/control/conffiles")"
grep -q 'systemctl.* enable' "$tmp/control"/p* && fail "a maintainer script enables a unit"
# Continued lines joined. (No pipe into grep -q: its early exit would fail the pipeline.)
grep -Eq '^ *adduser --system --group .* retratix$' <<<"$(sed -e ':a' -e '/\\$/N; s/\\\n//; ta' "$tmp/control/postinst")" ||
    fail "the postinst makes no system account retratix"
grep -q 'dpkg-statoverride --update --add' "$tmp/control/postinst" ||
    fail "the postinst gives the configuration files no group"
grep -Eq 'deluser|delgroup|userdel' "$tmp/control"/p* && fail "a maintainer script removes the account"
# The Polidex.ini of the /opt layout: put aside (preinst), moved to /etc if edited (postinst), put
# back if the upgrade fails (postrm). tools/package/try_install.sh --upgrade-from tries it.
for script in preinst postinst postrm; do
    grep -q ' /opt/retratix/bin/Polidex\.ini' "$tmp/control/$script" ||
        fail "the $script does not handle /opt/retratix/bin/Polidex.ini"
done

# The unpacked files.
root=$tmp/root
dpkg-deb -x "$deb" "$root"

# Debian's checker: no error and no warning (overridden ones count as such with --show-overrides,
# so the overrides are listed from their file). The only override is the mode of the files that may
# hold a password.
overrides=$(grep -v -e '^#' -e '^$' "$root/usr/share/lintian/overrides/retratix")
grep -v '^retratix: non-standard-file-perm 0640 != 0644 \[etc/' <<<"$overrides" &&
    fail "lintian overrides beyond the secret files' mode"
if lintian=$(lintian --fail-on error,warning --display-info "$deb" 2>&1); then
    echo "lintian: no error, no warning"
else
    fail "lintian found errors or warnings:"
fi
# Its tags, without the notice that root runs it.
grep -v '^running with root privileges' <<<"$lintian" || true
sed 's/^/overridden: /' <<<"$overrides"

file -b "$root/usr/share/icons/hicolor/64x64/apps/retratix.png" | grep -q '^PNG image data, 64 x 64' ||
    fail "the icon is no 64 x 64 PNG"
gzip -t "$root/usr/share/man/man1/retratix.1.gz" || fail "the manual page is no gzip file"

# The services' sandbox: systemd's own rating (0 is the best, 10 the worst) at most 2.0, and
# units that systemd reads without a complaint (the program path pointed into the unpacked tree).
units=$root/lib/systemd/system
mkdir "$tmp/units"
for unit in retratix-upload.service retratix-watch.service retratix-upload.timer; do
    sed "s|/usr/lib/retratix/|$root/usr/lib/retratix/|g" "$units/$unit" >"$tmp/units/$unit"
done
verify=$(systemd-analyze verify --man=no "$tmp"/units/* 2>&1) && [ -z "$verify" ] ||
    fail "systemd-analyze verify: $verify"
for unit in retratix-upload.service retratix-watch.service; do
    exposure=$(systemd-analyze security --offline=true --no-pager "$units/$unit" 2>&1 |
        sed -n 's/^→ Overall exposure level for [^:]*: \([0-9.]*\) .*/\1/p')
    echo "$unit: exposure $exposure"
    awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 2.0) }' ||
        fail "$unit: exposure ${exposure:-not rated} is above 2.0"
done

# Built as Debian builds: every item of hardening-check yes, except two it cannot see here. Control
# flow marks need every object linked to carry them, and Debian 12's C start files (Scrt1.o, crti.o)
# do not; stack clash probes, where a frame needs them, are found only in their loop form.
hardening=$(hardening-check --nocfprotection "$root/usr/lib/retratix/retratix" 2>&1) ||
    fail "hardening-check: $hardening"
echo "$hardening"
for item in 'Position Independent Executable' 'Stack protected' 'Fortify Source functions' \
    'Read-only relocations' 'Immediate binding'; do
    grep -Eq "^ $item: yes" <<<"$hardening" || fail "hardening-check: $item is not yes"
done
grep -q ': no' <<<"$(grep -v '^ Control flow integrity:' <<<"$hardening")" && fail "hardening-check says no"

# A database made from the packaged schema; the shipped configuration pointed at it and at the
# packaged reports, everything else as shipped. The database is named relative to the program's
# folder (the executable's, not its link's nor the working folder), as the manual page says.
"$make_demo_data" --program-folder "$tmp" --demo "$tmp/demo" --source "$root/usr/share/retratix" >/dev/null
ini=$root/etc/retratix/Polidex.ini
sed -i -e "s|^SID=.*|SID=sqlite:../../../../demo/retratix.db|" \
    -e "s|^RptPath=/usr/share/retratix/|RptPath=$root/usr/share/retratix/|" "$ini"
grep -q "^SID=sqlite:\.\./" "$ini" && grep -q "^RptPath=$root/usr/share/retratix/reports/\$" "$ini" ||
    fail "the shipped Polidex.ini lacks SID= or RptPath=/usr/share/retratix/reports/"
# The link beside the program leads into the unpacked tree, as it leads to /etc when installed.
ln -sfn "$ini" "$root/usr/lib/retratix/Polidex.ini"

# The program through a link in another folder (with no Polidex.ini), run from a third.
mkdir "$tmp/link" "$tmp/fotos" "$tmp/work"
ln -s "$root/usr/lib/retratix/retratix" "$tmp/link/retratix"
program=$tmp/link/retratix
cd "$tmp/work"

version=$("$program" --version) || fail "--version exits $?"
[ "$version" = "Retratix $(dpkg-deb -f "$deb" Version | sed 's/-[^-]*$//')" ] ||
    fail "--version prints \"$version\", the package is $(dpkg-deb -f "$deb" Version)"
"$program" --help >"$tmp/help" || fail "--help exits $?"
grep -q -- '--upload' "$tmp/help" || fail "--help does not list --upload"

# Member 11 of installation 1 has no photo yet.
cp "$tmp/demo/fotos/11.jpg" "$tmp/fotos/"
# The upload as the units run it: umask 077, and as root the credentials systemd gives the
# service: an account of its own (nobody here) whose group reads Polidex.ini, in the group of
# the photo folder's staff (root here), that owns its state folder (the database's), with the file
# lease capability alone and no new privileges. Numbers without a name serve for the two groups.
run=("$program")
report=$tmp/demo/informe.pdf
if [ "$(id -u)" -eq 0 ]; then
    free_gid() {
        local gid=$1
        while getent group "$gid" >/dev/null; do gid=$((gid + 1)); done
        echo "$gid"
    }
    account_gid=$(free_gid 47000)
    folder_gid=$(free_gid $((account_gid + 1)))
    chmod 711 "$tmp"
    chgrp "$account_gid" "$ini"
    chown -R "nobody:$account_gid" "$tmp/demo"
    chgrp -R "$folder_gid" "$tmp/fotos"
    chmod 2770 "$tmp/fotos"
    chmod 640 "$tmp/fotos/11.jpg"
    mkdir -m 700 "$tmp/runtime-account" "$tmp/cache-account"
    chown nobody "$tmp/runtime-account" "$tmp/cache-account"
    run=(setpriv --reuid=nobody --regid="$account_gid" --groups="$folder_gid" --no-new-privs
        --inh-caps=-all,+lease --ambient-caps=-all,+lease --bounding-set=-all,+lease
        env -i PATH=/usr/bin:/bin LANG=C.UTF-8 HOME="$tmp/demo" QT_QPA_PLATFORM=offscreen
        XDG_RUNTIME_DIR="$tmp/runtime-account" XDG_CACHE_HOME="$tmp/cache-account" QT_ENABLE_REGEXP_JIT=0
        "$program")
fi
status=0
(umask 077 && exec "${run[@]}" --upload "$tmp/fotos" --pdf "$report") >"$tmp/upload.out" 2>"$tmp/upload.err" || status=$?
[ $status -eq 0 ] || fail "--upload exits $status: $(cat "$tmp/upload.err")"
grep -Eq '^Ejecución [0-9]+ terminada: 1 archivos, 1 fotos insertadas, .*, 1 borrados(,|$)' "$tmp/upload.out" ||
    fail "--upload summary: $(cat "$tmp/upload.out" "$tmp/upload.err")"
[ ! -e "$tmp/fotos/11.jpg" ] || fail "the stored photo is still in the folder"
[ "$(head -c 5 "$report" 2>/dev/null)" = %PDF- ] || fail "no PDF report from the packaged reports"
[ "$(stat -c %a "$report" 2>/dev/null)" = 600 ] || fail "the report is not private: mode $(stat -c %a "$report" 2>&1)"

[ $failures -eq 0 ] || exit 1
echo "The package is complete and its program uploads."
