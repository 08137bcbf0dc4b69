#!/usr/bin/env bash
# Tries the Windows build under Wine, as a front desk would use it: builds it (tools/windows/build.sh,
# cached), installs it with its installer in silent mode into a fresh Wine prefix, and then
#   1. runs the test programs (offscreen platform), those with database rows on SQLite and also on
#      the throwaway PostgreSQL cluster that ./test.sh uses (Qt's driver on the Windows libpq);
#   2. runs the installed program's headless upload on a SQLite database made from the schema and
#      checks the rows, the files left in the photo folder and the report PDF;
#   3. runs the same upload through ODBC (Wine's odbc32 hands the calls to this machine's unixODBC
#      and psqlODBC) against that cluster;
#   4. takes a screenshot of the upload window under Xvfb;
#   5. installs again and uninstalls, and checks that the administrator's Polidex.ini stays.
# Prints what it did and how long each step took; the screenshot and report are left in
# build-win/wine-test/.
#
#   tools/windows/test.sh [--no-build]
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build_dir=$source_dir/build-win
out=$build_dir/wine-test

build=1
case ${1:-} in
    --no-build) build=0 ;;
    "") ;;
    *) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
esac

"$source_dir"/scripts/install-deps.sh wine wine64 imagemagick x11-utils sqlite3
[ "$build" -eq 0 ] || "$source_dir"/tools/windows/build.sh
installer=$(ls "$build_dir"/Retratix-*-win64.exe)
# shellcheck disable=SC1090
source <(sed 's/^/prefix_/' "$build_dir/prefixes.txt")

report=()
failures=0
started=$(date +%s.%N)
seconds_since() { awk -v s="$1" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }'; }
step() {
    local name=$1 start status=0
    shift
    echo "== $name"
    start=$(date +%s.%N)
    step_failed=0
    "$@" || status=$?
    [ "$step_failed" -eq 0 ] || status=1
    [ "$status" -eq 0 ] || failures=$((failures + 1))
    report+=("$(printf '%8s s  %s%s' "$(seconds_since "$start")" "$name" "$([ "$status" -eq 0 ] || echo ": FAILED")")")
}
fail() { echo "   FAILED: $*" >&2; step_failed=1; return 1; }

work=$(mktemp -d)
rm -rf "$out"
mkdir -p "$out"
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
drive_c=$WINEPREFIX/drive_c
program=$drive_c/Retratix
xvfb_pid=
cleanup() {
    local status=$?
    wineserver -k 2>/dev/null || true
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
    [ "$(type -t postgres_cluster_stop)" != function ] || postgres_cluster_stop
    rm -rf "$work"
    printf '%s\n' "${report[@]}"
    printf '%8s s  in all, %d step(s) failed\n' "$(seconds_since "$started")" "$failures"
    [ "$failures" -eq 0 ] || status=1
    exit $status
}
trap cleanup EXIT

# A display of its own for the installer's and the program's windows.
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1280x900x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=$display

prepare_prefix() {
    wine wineboot -i >/dev/null 2>&1
    # A program that crashes ends with its status instead of waiting in Wine's crash dialog.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
}

install_program() {
    wine "$(winepath -w "$installer")" /S /D='C:\Retratix' || fail "the installer ended with $?"
    wineserver -w
    local f
    for f in retratix.exe retratix-cli.exe Qt6Core.dll platforms/qwindows.dll platforms/qoffscreen.dll sqldrivers/qsqlite.dll sqldrivers/qsqlodbc.dll \
             reports/ListadoFotos.rpt Polidex.ini Uninstall.exe; do
        [ -e "$program/$f" ] || fail "not installed: $f"
    done
    grep -q '^RptPath=C:\\Retratix\\reports\\' "$program/Polidex.ini" || fail "RptPath: $(grep RptPath "$program/Polidex.ini")"
    local menu=$drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/Retratix
    [ -e "$menu/Retratix.lnk" ] || fail "no Start-menu entry: $(find "$drive_c" -path '*Start Menu*' -name '*.lnk')"
    echo "   $(du -sh "$program" | cut -f1) installed in C:\\Retratix ($(find "$program" -type f | wc -l) files)"
    echo "   installer: $(basename "$installer"), $(du -h "$installer" | cut -f1)"
}

# The throwaway PostgreSQL cluster that ./test.sh also uses, for the tests' PostgreSQL and ODBC rows
# and the ODBC upload.
start_cluster() {
    # shellcheck disable=SC1091
    source "$source_dir/tests/postgres/cluster.sh"
    postgres_cluster_start >/dev/null
    [ -n "${RETRATIX_PG_PORT:-}" ] || fail "no PostgreSQL server here"
    [ -n "${RETRATIX_ODBC_DRIVER:-}" ] || fail "no PostgreSQL ODBC driver here"
    echo "   127.0.0.1:$RETRATIX_PG_PORT, ODBC driver $RETRATIX_ODBC_DRIVER"
}

# The test programs, each run by Wine (the build's emulator): those that need no server, then those
# with database rows, on SQLite and on the cluster through Qt's PostgreSQL driver (on the Windows
# libpq, built without TLS: plain text on loopback).
run_tests() {
    summary() { grep -E '^ *[0-9]+/[0-9]+ Test|tests passed|tests failed' "$1" | sed 's/^/   /'; }
    # Wine's drive Z: is the build machine's root.
    windows() { local p; for p; do printf 'Z:%s;' "${p//\//\\}"; done; }
    # The installed program's folder holds the runtime (MinGW's, SQLite, libpq); Qt's own holds
    # what only the tests load (Qt6Test). Wine hides the host's QT_* variables from Windows
    # programs and hands on WINEQT_* ones by their own names. Qt's offscreen platform finds no
    # fonts on Windows but those of QT_QPA_FONTDIR; QtTest writes its log to the debugger unless
    # told to keep to the console.
    local status=0
    WINEPATH="C:\Retratix;$(windows "$prefix_qt/bin")"
    WINEQT_PLUGIN_PATH=$(windows "$prefix_qt/plugins" "$prefix_drivers/plugins")
    export WINEPATH WINEQT_PLUGIN_PATH WINEQT_QPA_PLATFORM=offscreen WINEQT_FORCE_STDERR_LOGGING=1 \
        WINEQT_QPA_FONTDIR='Z:\usr\share\fonts\truetype\dejavu'
    ctest --test-dir "$build_dir" --output-on-failure -LE 'database|package|trials|fuzz' --timeout 300 \
        > "$out/ctest.log" 2>&1 || status=1
    summary "$out/ctest.log"
    echo "   with database rows, on SQLite and on the PostgreSQL server:"
    # Without the options that ask for TLS.
    RETRATIX_PG_OPTIONS='' RETRATIX_PG_DATASOURCE=${RETRATIX_PG_DATASOURCE%%\?*} \
        RETRATIX_DBTESTS_PG_DATASOURCE=${RETRATIX_DBTESTS_PG_DATASOURCE%%\?*} \
        ctest --test-dir "$build_dir" --verbose -L database --timeout 300 \
        > "$out/ctest-server.log" 2>&1 || status=1
    summary "$out/ctest-server.log"
    # Rows skipped for want of a server or a driver would pass unseen.
    if grep -E 'SKIP +: .*(not set|no PostgreSQL)' "$out/ctest-server.log"; then
        fail "database rows skipped"
    fi
    unset WINEPATH WINEQT_QPA_PLATFORM WINEQT_QPA_FONTDIR WINEQT_FORCE_STDERR_LOGGING WINEQT_PLUGIN_PATH
    return $status
}

# Polidex.ini of the installed program with SID set to the data source.
use_data_source() {
    local value=${1//\\/\\\\}  # backslashes and & are sed's own in a replacement
    value=${value//&/\\&}
    sed -i -E "s|^SID=.*|SID=$value|" "$program/Polidex.ini"
}

# The photo folder: member 123's photo, a member that does not exist, and a file that is no photo.
make_photos() {
    rm -rf "$drive_c/fotos"
    mkdir -p "$drive_c/fotos"
    cp "$source_dir/resources/splash_logo.jpg" "$drive_c/fotos/123.jpg"
    cp "$source_dir/resources/splash_logo.jpg" "$drive_c/fotos/999.jpg"
    echo notas > "$drive_c/fotos/notas.txt"
}

# Runs the installed program's headless upload and checks what it left; $1 runs a query on the
# database, printing CODIGO|... rows.
upload_and_check() {
    local query=$1 name=$2
    make_photos
    (cd "$drive_c" && wine 'C:\Retratix\retratix-cli.exe' --upload 'C:\fotos' --pdf "C:\\$name.pdf") \
        > "$out/$name.out" 2>&1 || fail "retratix --upload ended with $?: $(cat "$out/$name.out")"
    sed 's/^/   /' "$out/$name.out"
    [ "$($query 'SELECT CODIGO FROM ABONADOSFOTOS')" = 123 ] || fail "ABONADOSFOTOS: $($query 'SELECT CODIGO FROM ABONADOSFOTOS')"
    local log
    log=$($query "SELECT NOMBRE_FOTO || '|' || SUBIO || '|' || MOTIVO FROM LOG_ABONADOSFOTOS ORDER BY NOMBRE_FOTO")
    echo "$log" | sed 's/^/   log: /'
    [ "$log" = $'123.jpg|S|Foto Insertada\n999.jpg|N|Abonado no existente' ] || fail "log rows"
    [ "$(cd "$drive_c/fotos" && ls | tr '\n' ' ')" = "999.jpg notas.txt " ] || fail "files left: $(ls "$drive_c/fotos")"
    echo "   left in C:\\fotos: $(cd "$drive_c/fotos" && ls | tr '\n' ' ')"
    cp "$drive_c/$name.pdf" "$out/" || fail "no report"
    pdftotext "$out/$name.pdf" - | grep -q 'Abonado no existente' || fail "the report lacks the log's rows"
    pdftoppm -r 60 -png -singlefile "$out/$name.pdf" "$out/$name"
    echo "   report: $(stat -c %s "$out/$name.pdf") bytes, first page in $out/$name.png"
}

sqlite_upload() {
    local db=$drive_c/datos/retratix.db
    mkdir -p "$drive_c/datos"
    rm -f "$db"
    sqlite3 "$db" < "$source_dir/db/sqlite/schema.sql" >/dev/null
    sqlite3 "$db" "INSERT INTO ABONADOS (CODINSTALACION, CODIGO) VALUES (1, 123)"
    use_data_source 'sqlite:C:\datos\retratix.db'
    query() { sqlite3 "$db" "$1"; }
    upload_and_check query sqlite
}

odbc_upload() {
    local database=retratix_wine
    export PGPASSWORD=3k9tWqRm
    pg() { PGOPTIONS='-c client_min_messages=warning' psql -X -q -A -t -v ON_ERROR_STOP=1 -h "$RETRATIX_PG_HOST" \
        -p "$RETRATIX_PG_PORT" -U regusr1 "$@"; }
    pg -d retratix -c "DROP DATABASE IF EXISTS $database" -c "CREATE DATABASE $database"
    pg -d "$database" -f "$source_dir/db/postgresql/schema.sql" >/dev/null
    pg -d "$database" -c "INSERT INTO ABONADOS (CODINSTALACION, CODIGO) VALUES (1, 123)"
    # A data source of this machine's unixODBC, to which Wine's odbc32 hands the calls. (A whole
    # connection string in SID would need quotes of its own inside the file's.)
    printf '[retratix_wine]\nDriver=%s\nServername=%s\nPort=%s\nDatabase=%s\nByteaAsLongVarBinary=1\nUseServerSidePrepare=1\n' \
        "$RETRATIX_ODBC_DRIVER" "$RETRATIX_PG_HOST" "$RETRATIX_PG_PORT" "$database" > "$work/odbc.ini"
    export ODBCINI=$work/odbc.ini
    use_data_source 'odbc:retratix_wine'
    query() { pg -d "$database" -c "$1"; }
    upload_and_check query odbc
}

screenshot() {
    use_data_source 'sqlite:C:\datos\retratix.db'
    # Disowned, so that no shell reports its end when wineserver -k ends it.
    (cd "$drive_c/fotos" && exec wine 'C:\Retratix\retratix.exe' >/dev/null 2>&1) &
    disown
    local shown=0
    for _ in $(seq 60); do
        sleep 1
        if xwininfo -root -tree 2>/dev/null | grep -q 'Retratix Abonados'; then shown=1; break; fi
    done
    sleep 3
    import -window root "$out/upload-window.png"
    wineserver -k 2>/dev/null || true
    [ "$shown" -eq 1 ] || fail "no upload window within 60 s (screenshot taken anyway: $out/upload-window.png)"
    echo "   $out/upload-window.png"
}

# The administrator's edit of Polidex.ini outlives an install over the program and its uninstall.
reinstall_and_uninstall() {
    echo '; editado' >> "$program/Polidex.ini"
    wine "$(winepath -w "$installer")" /S /D='C:\Retratix' || fail "the installer ended with $?"
    wineserver -w
    grep -q '^; editado' "$program/Polidex.ini" || fail "installing again replaced Polidex.ini"
    [ "$(find "$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs" -name Retratix.lnk | wc -l)" -eq 1 ] ||
        fail "more than one Start-menu entry"
    wine 'C:\Retratix\Uninstall.exe' /S || fail "the uninstaller ended with $?"
    wineserver -w
    sleep 2
    [ ! -e "$program/retratix.exe" ] || fail "retratix.exe stays"
    grep -q '^; editado' "$program/Polidex.ini" || fail "the administrator's Polidex.ini is gone"
    echo "   left in C:\\Retratix: $(cd "$program" && find . -type f | sed 's|^\./||' | tr '\n' ' ')"
}

step "fresh Wine prefix" prepare_prefix
step "silent install: $(basename "$installer") /S" install_program
step "throwaway PostgreSQL cluster" start_cluster
step "test programs under Wine" run_tests
step "headless upload on SQLite, installed program" sqlite_upload
step "headless upload through ODBC to PostgreSQL" odbc_upload
step "screenshot of the upload window" screenshot
step "install again, uninstall: Polidex.ini kept" reinstall_and_uninstall
