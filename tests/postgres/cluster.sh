# Sourced by test.sh: postgres_cluster_start / postgres_cluster_stop.
#
# A throwaway PostgreSQL 15 cluster on 127.0.0.1 for the database tests, from a private temporary
# folder (data and socket): run by the "postgres" user when this shell is root, by the current user
# otherwise, with the program's built-in account (regusr1) and ODBC data
# sources for Debian's PostgreSQL ODBC driver in a temporary odbc.ini. Exported for the tests:
#   RETRATIX_PG_DATASOURCE          postgresql://127.0.0.1:PORT/retratix   (tables of db/postgresql/schema.sql)
#   RETRATIX_ODBC_DATASOURCE        odbc:retratix                          (the same database through ODBC)
#   RETRATIX_DBTESTS_PG_DATASOURCE  postgresql://127.0.0.1:PORT/retratix_db_tests  (tests/db only: it drops and
#   RETRATIX_DBTESTS_ODBC_DATASOURCE odbc:retratix_db_tests                          recreates its tables)
#   RETRATIX_PG_HOST, RETRATIX_PG_PORT, RETRATIX_ODBC_DRIVER (the driver library), ODBCINI, ODBCSYSINI
#   RETRATIX_PG_CA                  the certificate authority of the server's TLS certificate (for 127.0.0.1
#                                   and localhost); RETRATIX_PG_OTHER_CA one that did not sign it.
#   RETRATIX_PG_OPTIONS             sslmode=verify-full&sslrootcert=$RETRATIX_PG_CA: the two data sources
#                                   above carry it, so that PostgreSQL tests go over verified TLS.
# Without openssl the server runs without TLS and the last three stay unset.
# regusr1 may create databases, for tests that want one of their own.
# Without the binaries it says so and exports nothing.

RETRATIX_PG_BIN=${RETRATIX_PG_BIN:-/usr/lib/postgresql/15/bin}
_retratix_pg_dir=""

# As root the server runs as "postgres" (it refuses to run as root); otherwise as this user.
_retratix_pg_as_owner() {
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u postgres -- "$@"
    else
        "$@"
    fi
}

_retratix_pg_free_port() {
    local port
    for _ in $(seq 1 200); do
        port=$((20000 + RANDOM % 20000))
        # Nothing answers on a free port; the bash /dev/tcp probe fails there.
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            echo "$port"
            return 0
        fi
    done
    return 1
}

# A certificate authority, a server certificate it signs for 127.0.0.1 and localhost, and another
# authority, in $1 (EC keys: quick to make). The server's key is readable by its owner only.
_retratix_pg_make_tls() {
    local tls=$1
    command -v openssl >/dev/null 2>&1 || return 1
    mkdir -p "$tls"
    (
        cd "$tls" &&
            openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 7 \
                -subj "/CN=Retratix test CA" -keyout ca.key -out ca.pem &&
            openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj "/CN=127.0.0.1" \
                -keyout server.key -out server.csr &&
            printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\n' >server.ext &&
            openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 7 \
                -extfile server.ext -out server.pem &&
            openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 7 \
                -subj "/CN=Another CA" -keyout other-ca.key -out other-ca.pem &&
            chmod 600 server.key ca.key other-ca.key
    ) >/dev/null 2>&1
}

_retratix_odbc_driver() {
    local lib
    for lib in /usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so /usr/lib/*/odbc/psqlodbcw.so /usr/lib/odbc/psqlodbcw.so; do
        [ -f "$lib" ] && { echo "$lib"; return 0; }
    done
    return 1
}

postgres_cluster_start() {
    if [ ! -x "$RETRATIX_PG_BIN/initdb" ]; then
        echo "postgres_cluster_start: no PostgreSQL binaries in $RETRATIX_PG_BIN; PostgreSQL tests will skip" >&2
        return 0
    fi
    local source_dir port data log driver
    source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
    # mktemp makes the folder private (0700); a root shell opens it to the "postgres" user only.
    _retratix_pg_dir=$(mktemp -d "${TMPDIR:-/tmp}/retratix-pg.XXXXXX")
    data="$_retratix_pg_dir/data"
    log="$_retratix_pg_dir/server.log"
    mkdir -m 700 "$data"
    if [ "$(id -u)" -eq 0 ]; then
        chmod 755 "$_retratix_pg_dir"
        chown -R postgres: "$_retratix_pg_dir"
    fi

    _retratix_pg_as_owner "$RETRATIX_PG_BIN/initdb" -D "$data" -U postgres -E UTF8 --locale=C.UTF-8 \
        --auth-local=trust --auth-host=scram-sha-256 >"$_retratix_pg_dir/initdb.log" 2>&1 || {
        cat "$_retratix_pg_dir/initdb.log" >&2
        return 1
    }

    port=$(_retratix_pg_free_port) || { echo "postgres_cluster_start: no free port" >&2; return 1; }
    local tls="$_retratix_pg_dir/tls" tls_options=""
    if _retratix_pg_make_tls "$tls"; then
        [ "$(id -u)" -eq 0 ] && chown -R postgres: "$tls"
        tls_options="-c ssl=on -c ssl_cert_file=$tls/server.pem -c ssl_key_file=$tls/server.key"
    else
        echo "postgres_cluster_start: no openssl; the server runs without TLS" >&2
    fi
    # The server's defaults stand (fsync and synchronous_commit on): the tests measure real commits.
    _retratix_pg_as_owner "$RETRATIX_PG_BIN/pg_ctl" -D "$data" -l "$log" -w -t 60 \
        -o "-p $port -c listen_addresses=127.0.0.1 -k $_retratix_pg_dir $tls_options" start >/dev/null || {
        cat "$log" >&2
        return 1
    }

    local psql=(psql -X -q -v ON_ERROR_STOP=1 -h "$_retratix_pg_dir" -p "$port")
    _retratix_pg_as_owner "${psql[@]}" -U postgres -d postgres <<'SQL' || return 1
CREATE ROLE regusr1 LOGIN CREATEDB PASSWORD '3k9tWqRm';
CREATE DATABASE retratix OWNER regusr1 ENCODING 'UTF8';
CREATE DATABASE retratix_db_tests OWNER regusr1 ENCODING 'UTF8';
SQL
    # The shared database gets the program's tables, created by the program's account.
    PGPASSWORD=3k9tWqRm psql -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$port" -U regusr1 -d retratix \
        -f "$source_dir/db/postgresql/schema.sql" >/dev/null || return 1

    mkdir -p "$_retratix_pg_dir/odbc"
    driver=$(_retratix_odbc_driver) || driver=""
    if [ -n "$driver" ]; then
        # Driver by path: ODBCSYSINI points away from /etc, so the system's driver list is not read.
        # ByteaAsLongVarBinary: bytea travels as long binary (the default would make it a large object).
        local db
        : >"$_retratix_pg_dir/odbc/odbc.ini"
        for db in retratix retratix_db_tests; do
            cat >>"$_retratix_pg_dir/odbc/odbc.ini" <<EOF
[$db]
Driver = $driver
Servername = 127.0.0.1
Port = $port
Database = $db
ByteaAsLongVarBinary = 1
UseServerSidePrepare = 1

EOF
        done
        : >"$_retratix_pg_dir/odbc/odbcinst.ini"
        export ODBCSYSINI="$_retratix_pg_dir/odbc"
        export ODBCINI="$_retratix_pg_dir/odbc/odbc.ini"
        export RETRATIX_ODBC_DRIVER="$driver"
        export RETRATIX_ODBC_DATASOURCE="odbc:retratix"
        export RETRATIX_DBTESTS_ODBC_DATASOURCE="odbc:retratix_db_tests"
    else
        echo "postgres_cluster_start: no PostgreSQL ODBC driver; ODBC tests will skip" >&2
    fi

    export RETRATIX_PG_HOST=127.0.0.1
    export RETRATIX_PG_PORT="$port"
    local query=""
    if [ -n "$tls_options" ]; then
        export RETRATIX_PG_CA="$tls/ca.pem" RETRATIX_PG_OTHER_CA="$tls/other-ca.pem"
        export RETRATIX_PG_OPTIONS="sslmode=verify-full&sslrootcert=$tls/ca.pem"
        query="?$RETRATIX_PG_OPTIONS"
    fi
    export RETRATIX_PG_DATASOURCE="postgresql://127.0.0.1:$port/retratix$query"
    export RETRATIX_DBTESTS_PG_DATASOURCE="postgresql://127.0.0.1:$port/retratix_db_tests$query"
    echo "PostgreSQL test cluster on 127.0.0.1:$port ($_retratix_pg_dir)" >&2
}

# Runs SQL as the cluster's superuser (for set-up beyond the program's account, such as a grant).
postgres_cluster_superuser_sql() {
    [ -n "$_retratix_pg_dir" ] || { echo "postgres_cluster_superuser_sql: no cluster" >&2; return 1; }
    _retratix_pg_as_owner psql -X -q -v ON_ERROR_STOP=1 -h "$_retratix_pg_dir" -p "$RETRATIX_PG_PORT" \
        -U postgres -d postgres -c "$1"
}

postgres_cluster_stop() {
    [ -n "$_retratix_pg_dir" ] || return 0
    if [ -f "$_retratix_pg_dir/data/postmaster.pid" ]; then
        _retratix_pg_as_owner "$RETRATIX_PG_BIN/pg_ctl" -D "$_retratix_pg_dir/data" -m fast -w stop \
            >/dev/null 2>&1 || true
    fi
    rm -rf "$_retratix_pg_dir"
    _retratix_pg_dir=""
    unset RETRATIX_PG_CA RETRATIX_PG_OTHER_CA RETRATIX_PG_OPTIONS
}
