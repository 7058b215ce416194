#!/usr/bin/env bash
# A private Firebird 3 server on 127.0.0.1 for the integration tests.
#
# Usage: firebird-test-server.sh install|start|stop|restart|status|env|sql|clean
#
#   install  apt-get installs firebird3.0-server and firebird3.0-utils (Debian 12)
#            with a policy-rc.d that keeps the package from starting its service.
#   start    configures and starts the private instance (installs first if needed),
#            creating its security database, users and test database on first use.
#   stop     stops the private instance.
#   restart  stop, then start.
#   status   exit 0 when the private instance runs, 3 when it does not.
#   env      prints the export line that the integration tests read.
#   sql      runs isql-fb against the test database over the network (SQL from
#            standard input, or the arguments as one statement), e.g.
#            firebird-test-server.sh sql "execute procedure post_events('X', 3);"
#   clean    stops the instance and removes its directory.
#
# Settings (environment): VARNEL_FB_DIR (default /var/tmp/varnel-firebird),
# VARNEL_FB_PORT (default 3051). install, start, stop and clean need root.
#
# What this changes on the machine:
# - install: the Debian packages firebird3.0-server, firebird3.0-utils and their
#   dependencies, with everything the packages themselves do: the user and group
#   "firebird", /etc/firebird/3.0 with the package defaults, a system security
#   database under /var/lib/firebird/3.0 (its SYSDBA password is written to
#   /etc/firebird/3.0/SYSDBA.password), and the package's service, enabled but not
#   started. /usr/sbin/policy-rc.d exists only during the install; one that was
#   there before is put back.
# - start/stop: nothing outside VARNEL_FB_DIR, except that the server appends its
#   messages to /var/log/firebird/firebird3.0.log (a path compiled into Debian's
#   server). The private instance reads its own firebird.conf, databases.conf and
#   security database from VARNEL_FB_DIR (the FIREBIRD variable names the server's
#   root directory) and keeps its lock files there too (FIREBIRD_LOCK), so
#   /etc/firebird and a system server on port 3050 are left alone. The server runs
#   as the user "firebird" and listens on 127.0.0.1 only.
#
# The test database VARNEL_FB_DIR/data/varnel.fdb (alias "varnel") has the table
# ORDERS (ID identity, ITEM varchar(40)) whose insert trigger posts the event ORDERS,
# and the procedure POST_EVENTS(EVENT_NAME varchar(255), TIMES integer), which posts
# the given event name the given number of times. The user SYSDBA, password
# masterkey, exists for the legacy login (Legacy_UserManager) and for Srp.

set -euo pipefail

FB_DIR=${VARNEL_FB_DIR:-/var/tmp/varnel-firebird}
FB_PORT=${VARNEL_FB_PORT:-3051}
FB_USER=SYSDBA
FB_PASSWORD=masterkey
SERVER=/usr/sbin/firebird
ISQL=/usr/bin/isql-fb
PIDFILE=$FB_DIR/firebird.pid
DATABASE=$FB_DIR/data/varnel.fdb
SECURITY_DB=$FB_DIR/security3.fdb
SECURITY_SQL=/usr/share/firebird/3.0/security.sql
PACKAGES=(firebird3.0-server firebird3.0-utils)

say() { printf 'firebird-test-server: %s\n' "$*" >&2; }
die() {
    say "$*"
    exit 1
}

need_root() {
    [ "$(id -u)" -eq 0 ] || die "$1 needs root"
}

installed() {
    [ -x "$SERVER" ] && [ -x "$ISQL" ] && [ -r "$SECURITY_SQL" ]
}

cmd_install() {
    if installed; then
        return 0
    fi
    need_root install
    local policy=/usr/sbin/policy-rc.d backup=""
    if [ -e "$policy" ]; then
        backup=$(mktemp)
        cp -p "$policy" "$backup"
    fi
    # The package's postinst would start its own server; 101 means "not allowed".
    printf '#!/bin/sh\nexit 101\n' >"$policy"
    chmod 755 "$policy"
    local rc=0
    {
        export DEBIAN_FRONTEND=noninteractive
        local apt=(apt-get install -y -q --no-install-recommends "${PACKAGES[@]}")
        # Package lists may be missing or stale on a fresh machine: update and retry.
        "${apt[@]}" >/dev/null 2>&1 || { apt-get update -q >/dev/null && "${apt[@]}" >/dev/null; }
    } || rc=$?
    if [ -n "$backup" ]; then
        mv "$backup" "$policy"
    else
        rm -f "$policy"
    fi
    [ "$rc" -eq 0 ] || die "apt-get failed to install ${PACKAGES[*]}"
    installed || die "the packages are installed but $SERVER or $ISQL is missing"
    say "installed ${PACKAGES[*]}"
}

# The server's compiled-in root directory (multiarch path of the package).
package_root() {
    local dir
    for dir in /usr/lib/*/firebird/3.0; do
        if [ -e "$dir/firebird.msg" ]; then
            echo "$dir"
            return 0
        fi
    done
    die "the firebird root directory is missing (/usr/lib/*/firebird/3.0)"
}

server_pid() {
    local pid
    [ -r "$PIDFILE" ] || return 1
    pid=$(cat "$PIDFILE")
    [ -n "$pid" ] && [ -d "/proc/$pid" ] || return 1
    [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$SERVER" ] || return 1
    echo "$pid"
}

port_open() {
    (exec 3<>"/dev/tcp/127.0.0.1/$FB_PORT") 2>/dev/null
}

# Runs a command as the firebird user against the private root directory. Embedded
# access (no host in the database path) is used only while the server is stopped.
as_firebird() {
    (cd "$FB_DIR" && runuser -u firebird -- env FIREBIRD="$FB_DIR" \
        FIREBIRD_LOCK="$FB_DIR/lock" FIREBIRD_TMP="$FB_DIR/tmp" "$@")
}

write_config() {
    mkdir -p "$FB_DIR"/{lock,tmp,data,client}
    # Everything of the server's root but the configuration comes from the package.
    local entry root
    root=$(package_root)
    for entry in firebird.msg intl plugins UDF lib; do
        ln -sfn "$root/$entry" "$FB_DIR/$entry"
    done
    cp "$root/plugins.conf" "$FB_DIR/plugins.conf"
    cat >"$FB_DIR/firebird.conf" <<EOF
# Private test instance, written by firebird-test-server.sh.
SecurityDatabase = $SECURITY_DB
# The library logs in the legacy way: user name and plain password, no encryption.
AuthServer = Srp, Legacy_Auth
AuthClient = Srp, Legacy_Auth
UserManager = Srp, Legacy_UserManager
WireCrypt = Enabled
RemoteBindAddress = 127.0.0.1
RemoteServicePort = $FB_PORT
RemoteAuxPort = 0
# How long the server waits for the auxiliary (event) connection.
ConnectionTimeout = 10
UdfAccess = None
TempDirectories = $FB_DIR/tmp
EOF
    cat >"$FB_DIR/databases.conf" <<EOF
security.db = $SECURITY_DB
{
    RemoteAccess = false
}
varnel = $DATABASE
EOF
    # Client side of isql-fb over the network (the sql command and the tests).
    cat >"$FB_DIR/client/firebird.conf" <<EOF
AuthClient = Srp, Legacy_Auth
WireCrypt = Enabled
EOF
    chown -R firebird:firebird "$FB_DIR"
    chmod 0755 "$FB_DIR" "$FB_DIR/client"
}

create_security_db() {
    if [ ! -e "$SECURITY_DB" ]; then
        echo "create database '$SECURITY_DB';" | as_firebird "$ISQL" -q >/dev/null
        as_firebird "$ISQL" -q -user SYSDBA -i "$SECURITY_SQL" "$SECURITY_DB" >/dev/null
    fi
    as_firebird "$ISQL" -q -user SYSDBA "$SECURITY_DB" >/dev/null <<EOF
create or alter user $FB_USER password '$FB_PASSWORD' using plugin Legacy_UserManager;
create or alter user $FB_USER password '$FB_PASSWORD' using plugin Srp;
commit;
EOF
}

create_test_db() {
    [ -e "$DATABASE" ] && return 0
    as_firebird "$ISQL" -q -user SYSDBA >/dev/null <<EOF
create database '$DATABASE';
create table orders (id integer generated by default as identity primary key,
                     item varchar(40));
set term ^;
create trigger orders_ai for orders after insert as
begin
  post_event 'ORDERS';
end^
create procedure post_events (event_name varchar(255), times integer) as
declare variable i integer = 0;
begin
  while (i < times) do
  begin
    post_event event_name;
    i = i + 1;
  end
end^
set term ;^
commit;
EOF
}

cmd_start() {
    if server_pid >/dev/null; then
        say "running on 127.0.0.1:$FB_PORT (pid $(server_pid))"
        return 0
    fi
    need_root start
    cmd_install
    if port_open; then
        die "port $FB_PORT is taken by another program (set VARNEL_FB_PORT)"
    fi
    write_config
    create_security_db
    create_test_db
    rm -f "$PIDFILE"
    env FIREBIRD="$FB_DIR" FIREBIRD_LOCK="$FB_DIR/lock" FIREBIRD_TMP="$FB_DIR/tmp" \
        start-stop-daemon --start --background --make-pidfile --pidfile "$PIDFILE" \
        --chuid firebird:firebird --chdir "$FB_DIR" --exec "$SERVER"
    for _ in $(seq 1 100); do
        if port_open; then
            say "running on 127.0.0.1:$FB_PORT (pid $(cat "$PIDFILE")), database $DATABASE"
            return 0
        fi
        # Until it has exec'd the server the child is still start-stop-daemon.
        [ -d "/proc/$(cat "$PIDFILE" 2>/dev/null)" ] || break
        sleep 0.05
    done
    die "the server did not start; see /var/log/firebird/firebird3.0.log"
}

cmd_stop() {
    if ! server_pid >/dev/null; then
        rm -f "$PIDFILE"
        return 0
    fi
    need_root stop
    start-stop-daemon --stop --quiet --oknodo --pidfile "$PIDFILE" --exec "$SERVER" \
        --retry TERM/10/KILL/5
    rm -f "$PIDFILE"
    say "stopped"
}

cmd_status() {
    local pid
    if pid=$(server_pid); then
        echo "running on 127.0.0.1:$FB_PORT (pid $pid), database $DATABASE"
        return 0
    fi
    echo "not running"
    return 3
}

cmd_env() {
    server_pid >/dev/null || say "warning: the server is not running (start it first)"
    # VARNEL_TEST_ISQL, VARNEL_TEST_FIREBIRD and VARNEL_TEST_DSN let a test fire events:
    #   FIREBIRD=$VARNEL_TEST_FIREBIRD $VARNEL_TEST_ISQL -q -user $VARNEL_TEST_USER \
    #       -password $VARNEL_TEST_PASSWORD $VARNEL_TEST_DSN
    printf 'export VARNEL_TEST_SERVER=127.0.0.1 VARNEL_TEST_PORT=%q VARNEL_TEST_DATABASE=%q' \
        "$FB_PORT" "$DATABASE"
    printf ' VARNEL_TEST_USER=%q VARNEL_TEST_PASSWORD=%q' "$FB_USER" "$FB_PASSWORD"
    printf ' VARNEL_TEST_ISQL=%q VARNEL_TEST_FIREBIRD=%q VARNEL_TEST_DSN=%q\n' \
        "$ISQL" "$FB_DIR/client" "127.0.0.1/$FB_PORT:$DATABASE"
}

cmd_sql() {
    server_pid >/dev/null || die "the server is not running"
    local run=(env FIREBIRD="$FB_DIR/client" FIREBIRD_LOCK="$FB_DIR/client/lock"
        "$ISQL" -q -user "$FB_USER" -password "$FB_PASSWORD" "127.0.0.1/$FB_PORT:$DATABASE")
    if [ $# -gt 0 ]; then
        printf '%s\ncommit;\n' "$*" | "${run[@]}"
    else
        "${run[@]}"
    fi
}

cmd_clean() {
    cmd_stop
    need_root clean
    rm -rf "$FB_DIR"
}

case "${1:-}" in
    install) cmd_install ;;
    start) cmd_start ;;
    stop) cmd_stop ;;
    restart)
        cmd_stop
        cmd_start
        ;;
    status) cmd_status ;;
    env) cmd_env ;;
    sql)
        shift
        cmd_sql "$@"
        ;;
    clean) cmd_clean ;;
    *)
        sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'
        exit 2
        ;;
esac
