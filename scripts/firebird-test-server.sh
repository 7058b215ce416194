#!/usr/bin/env bash
# Private Firebird servers on the loopback for the integration tests.
#
# Usage: firebird-test-server.sh [PROFILE]
#            install|start|stop|restart|kill|freeze|thaw|status|env|sql|clean
#
# Profiles (default legacy):
#   legacy      Firebird 3 (Debian 12) on port 3051, set up for the legacy login:
#               AuthServer = Srp, Legacy_Auth; WireCrypt = Enabled.
#   fb3default  Firebird 3 (Debian 12) on port 3052 at its default security settings:
#               AuthServer = Srp, WireCrypt = Required, WireCryptPlugin = Arc4.
#   fb4         Firebird 4 (Debian trixie's packages, in a root directory made with
#               debootstrap and kept between runs) on port 3053 at its defaults:
#               AuthServer = Srp256, WireCrypt = Required,
#               WireCryptPlugin = ChaCha64, ChaCha, Arc4.
#   ipv6        Firebird 3 (Debian 12) at its defaults like fb3default, listening
#               on the IPv6 loopback ::1 (and nowhere else), port 3054.
#
#   install  legacy, fb3default: apt-get installs firebird3.0-server and
#            firebird3.0-utils (Debian 12) with a policy-rc.d that keeps the package
#            from starting its service. fb4: installs debootstrap and firebird3.0-utils,
#            then makes the root once (one to a few minutes); a marker file in the
#            root says it is complete, so an interrupted build is redone.
#   start    configures and starts the private instance (installs first if needed),
#            creating its security database, users and test database on first use.
#   stop     stops the private instance.
#   restart  stop, then start.
#   kill     stops the instance as a crash does (SIGKILL); start brings it back.
#   freeze   stops the server process where it is (SIGSTOP), as a hung server;
#   thaw     lets it go on (SIGCONT).
#   status   exit 0 when the private instance runs, 3 when it does not.
#   env      prints the export line that the integration tests read.
#   sql      runs isql-fb against the test database over the network (SQL from
#            standard input, or the arguments as one statement), e.g.
#            firebird-test-server.sh fb4 sql "execute procedure post_events('X', 3);"
#   clean    stops the instance and removes its directory (fb4 keeps its root).
#
# Settings (environment): VARNEL_FB_DIR (default /var/tmp/varnel-firebird,
# /var/tmp/varnel-firebird-default, /var/tmp/varnel-firebird4 or
# /var/tmp/varnel-firebird-ipv6; for fb4 it holds the root and the build's log),
# VARNEL_FB_PORT (default 3051, 3052, 3053 or 3054).
# install, start, stop and clean need root.
#
# env prints, for legacy:
#   VARNEL_TEST_SERVER VARNEL_TEST_PORT VARNEL_TEST_DATABASE VARNEL_TEST_USER
#   VARNEL_TEST_PASSWORD VARNEL_TEST_ISQL VARNEL_TEST_FIREBIRD VARNEL_TEST_DSN
# and the same names with the prefix VARNEL_TEST_FB3DEFAULT_ (fb3default),
# VARNEL_TEST_FB4_ (fb4) or VARNEL_TEST_IPV6_ (ipv6, whose SERVER is ::1) in place
# of VARNEL_TEST_, plus for those three
#   ..._MIXED_USER ..._MIXED_PASSWORD  a user whose login keeps its case: the login
#                                      is "Mixed", double quotes included
#   ..._EVENT_USER ..._EVENT_PASSWORD  an ordinary user, EVENTUSER
# ISQL, FIREBIRD and DSN let a test fire events (the host's isql-fb for every
# profile; it logs in with Srp or Srp256 and Arc4 where the server requires it):
#   FIREBIRD=$VARNEL_TEST_FIREBIRD $VARNEL_TEST_ISQL -q -user $VARNEL_TEST_USER \
#       -password $VARNEL_TEST_PASSWORD $VARNEL_TEST_DSN
#
# What this changes on the machine:
# - install (legacy, fb3default): the Debian packages firebird3.0-server,
#   firebird3.0-utils and their dependencies, with everything the packages
#   themselves do: the user and group "firebird", /etc/firebird/3.0 with the package
#   defaults, a system security database under /var/lib/firebird/3.0 (its SYSDBA
#   password is written to /etc/firebird/3.0/SYSDBA.password), and the package's
#   service, enabled but not started. /usr/sbin/policy-rc.d exists only during the
#   install; one that was there before is put back.
# - install (fb4): the Debian packages debootstrap and firebird3.0-utils (with
#   libfbclient2 and firebird3.0-common) on the machine, and the directory
#   VARNEL_FB_DIR/root (about 500 MB): a Debian trixie minbase system from the
#   mirror in the machine's own apt sources, with firebird4.0-server and
#   firebird4.0-utils installed inside it; its /etc/hosts says 127.0.0.1 localhost,
#   its resolver is 127.0.0.1 and its usr/sbin/policy-rc.d forbids starting
#   services. While the packages are installed, /proc is mounted on the root's
#   proc directory and unmounted afterwards. The build's log is VARNEL_FB_DIR/install.log.
# - start/stop: nothing outside VARNEL_FB_DIR, except that a Firebird 3 server
#   appends its messages to /var/log/firebird/firebird3.0.log (a path compiled into
#   Debian's server). The private instance reads its own firebird.conf,
#   databases.conf and security database from its directory (the FIREBIRD variable
#   names the server's root directory) and keeps its lock files there too
#   (FIREBIRD_LOCK), so /etc/firebird and a system server on port 3050 are left
#   alone. The server listens on 127.0.0.1 only (ipv6: ::1 only) and runs as the
#   user "firebird"; the Firebird 4 server runs chrooted in VARNEL_FB_DIR/root as
#   that root's firebird user, its instance directory is /var/lib/varnel inside the root and
#   its log is firebird4.0.log there. Nothing is mounted while it runs.
#
# The test database data/varnel.fdb of the instance directory (alias "varnel") has
# the table ORDERS (ID identity, ITEM varchar(40)) whose insert trigger posts the
# event ORDERS, and the procedure POST_EVENTS(EVENT_NAME varchar(255), TIMES integer),
# which posts the given event name the given number of times. The user SYSDBA,
# password masterkey, exists for the legacy login (Legacy_UserManager) and for Srp
# in the legacy profile, for Srp only in the others; there "Mixed" (password
# mixedpw) and EVENTUSER (password eventpw) may insert into ORDERS and run
# POST_EVENTS.

set -euo pipefail

PROFILE=legacy
case "${1:-}" in
    legacy | fb3default | fb4 | ipv6)
        PROFILE=$1
        shift
        ;;
esac

FB_USER=SYSDBA
FB_PASSWORD=masterkey
# The users besides SYSDBA of the default-security profiles.
MIXED_USER='"Mixed"'
MIXED_PASSWORD=mixedpw
EVENT_USER=EVENTUSER
EVENT_PASSWORD=eventpw
ISQL=/usr/bin/isql-fb
ROOT=""
BIND=127.0.0.1
case "$PROFILE" in
    legacy)
        FB_DIR=${VARNEL_FB_DIR:-/var/tmp/varnel-firebird}
        FB_PORT=${VARNEL_FB_PORT:-3051}
        ENV_PREFIX=VARNEL_TEST_
        ;;
    fb3default)
        FB_DIR=${VARNEL_FB_DIR:-/var/tmp/varnel-firebird-default}
        FB_PORT=${VARNEL_FB_PORT:-3052}
        ENV_PREFIX=VARNEL_TEST_FB3DEFAULT_
        ;;
    fb4)
        FB_DIR=${VARNEL_FB_DIR:-/var/tmp/varnel-firebird4}
        FB_PORT=${VARNEL_FB_PORT:-3053}
        ENV_PREFIX=VARNEL_TEST_FB4_
        ROOT=$FB_DIR/root
        ;;
    ipv6)
        FB_DIR=${VARNEL_FB_DIR:-/var/tmp/varnel-firebird-ipv6}
        FB_PORT=${VARNEL_FB_PORT:-3054}
        ENV_PREFIX=VARNEL_TEST_IPV6_
        BIND=::1
        ;;
esac
# The server's address as a Firebird client names it: an IPv6 address in brackets.
case "$BIND" in
    *:*) DSN_HOST="[$BIND]" ;;
    *) DSN_HOST=$BIND ;;
esac
if [ -z "$ROOT" ]; then
    VERSION=3.0
    SRV_DIR=$FB_DIR
    SERVER=/usr/sbin/firebird
    EMBEDDED_ISQL=$ISQL
    SECURITY_DB=$SRV_DIR/security3.fdb
    SERVER_LOG=/var/log/firebird/firebird3.0.log
    PACKAGES=(firebird3.0-server firebird3.0-utils)
else
    VERSION=4.0
    SRV_DIR=/var/lib/varnel
    # The root's /usr/sbin/firebird is a wrapper that sets FIREBIRD to the package's
    # own directory: the instance starts the binaries themselves.
    SERVER=/usr/lib/firebird/4.0/bin/firebird
    EMBEDDED_ISQL=/usr/lib/firebird/4.0/bin/isql-fb
    SECURITY_DB=$SRV_DIR/security4.fdb
    SERVER_LOG=$ROOT$SRV_DIR/firebird4.0.log
    PACKAGES=(debootstrap firebird3.0-utils)
    SUITE=trixie
    ROOT_PACKAGES=(firebird4.0-server firebird4.0-utils)
    ROOT_MARKER=$ROOT/.varnel-root-complete
fi
# Paths as the server sees them are SRV_DIR, DATABASE and SECURITY_DB; DIR is the
# instance directory as seen from here (the same unless the server runs chrooted).
DIR=$ROOT$SRV_DIR
PIDFILE=$DIR/firebird.pid
DATABASE=$SRV_DIR/data/varnel.fdb
SECURITY_SQL=/usr/share/firebird/$VERSION/security.sql

say() { printf 'firebird-test-server: %s\n' "$*" >&2; }
die() {
    say "$*"
    exit 1
}

need_root() {
    [ "$(id -u)" -eq 0 ] || die "$1 needs root"
}

installed() {
    if [ -n "$ROOT" ]; then
        [ -x "$ISQL" ] && [ -e "$ROOT_MARKER" ]
    else
        [ -x "$SERVER" ] && [ -x "$ISQL" ] && [ -r "$SECURITY_SQL" ]
    fi
}

# apt-get install on this machine; the packages' scripts may not start services.
apt_install() {
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
        # Another apt-get may hold the dpkg lock for a while: wait for it.
        local apt=(apt-get -o DPkg::Lock::Timeout=900 install -y -q --no-install-recommends "$@")
        # Package lists may be missing or stale on a fresh machine: update and retry.
        "${apt[@]}" >/dev/null 2>&1 || { apt-get -o DPkg::Lock::Timeout=900 update -q >/dev/null &&
            "${apt[@]}" >/dev/null; }
    } || rc=$?
    if [ -n "$backup" ]; then
        mv "$backup" "$policy"
    else
        rm -f "$policy"
    fi
    [ "$rc" -eq 0 ] || die "apt-get failed to install $*"
}

cmd_install() {
    if installed; then
        return 0
    fi
    need_root install
    if [ -z "$ROOT" ]; then
        apt_install "${PACKAGES[@]}"
    else
        if [ ! -x "$ISQL" ] || ! command -v debootstrap >/dev/null; then
            apt_install "${PACKAGES[@]}"
        fi
        [ -e "$ROOT_MARKER" ] || build_root
    fi
    installed || die "the packages are installed but $SERVER or $ISQL is missing"
    if [ -z "$ROOT" ]; then
        say "installed ${PACKAGES[*]}"
    fi
}

# What is mounted inside the root: our /proc during the install, or what an
# interrupted debootstrap left.
root_mounts() {
    awk -v r="$ROOT/" 'index($2, r) == 1 { print $2 }' /proc/mounts | sort -r
}

umount_root() {
    local mount
    for mount in $(root_mounts); do
        umount "$mount" || umount -l "$mount"
    done
}

build_root() {
    local start=$SECONDS mirror rc=0 log=$FB_DIR/install.log
    umount_root
    [ -z "$(root_mounts)" ] || die "cannot unmount $(root_mounts | tr '\n' ' ')"
    rm -rf "$ROOT"
    mkdir -p "$ROOT"
    mirror=$("$(dirname "${BASH_SOURCE[0]}")/debian-mirror.sh")
    say "making the Firebird 4 root $ROOT (Debian $SUITE, a minute or more; log $log)"
    debootstrap --variant=minbase "$SUITE" "$ROOT" ${mirror:+"$mirror"} >"$log" 2>&1 ||
        die "debootstrap failed; see $log"
    printf '#!/bin/sh\nexit 101\n' >"$ROOT/usr/sbin/policy-rc.d"
    chmod 755 "$ROOT/usr/sbin/policy-rc.d"
    # apt inside the root resolves the mirror's name as this machine does.
    cp -L /etc/resolv.conf "$ROOT/etc/resolv.conf"
    # The server package's postinst reads /proc.
    trap umount_root EXIT
    mount -t proc proc "$ROOT/proc"
    chroot "$ROOT" env DEBIAN_FRONTEND=noninteractive sh -c \
        "apt-get update -q && apt-get install -y -q --no-install-recommends ${ROOT_PACKAGES[*]}" \
        >>"$log" 2>&1 || rc=$?
    umount_root
    trap - EXIT
    [ "$rc" -eq 0 ] || die "apt-get inside the root failed; see $log"
    if [ ! -x "$ROOT$SERVER" ] || [ ! -x "$ROOT$EMBEDDED_ISQL" ] || [ ! -r "$ROOT$SECURITY_SQL" ]; then
        die "the root has no $SERVER, $EMBEDDED_ISQL or $SECURITY_SQL; see $log"
    fi
    # From here on the root resolves no name through the network: a minbase system
    # has no /etc/hosts, and "localhost" would go to the name server.
    printf '127.0.0.1 localhost\n::1 localhost ip6-localhost ip6-loopback\n' >"$ROOT/etc/hosts"
    printf 'nameserver 127.0.0.1\n' >"$ROOT/etc/resolv.conf"
    touch "$ROOT_MARKER"
    say "made the root with ${ROOT_PACKAGES[*]} in $((SECONDS - start)) s"
}

# Runs a command here, or inside the root for a chrooted server.
in_root() {
    if [ -n "$ROOT" ]; then
        chroot "$ROOT" "$@"
    else
        "$@"
    fi
}

# The server's compiled-in root directory (multiarch path of the package), as the
# server sees it.
package_root() {
    local dir
    for dir in "$ROOT"/usr/lib/*/firebird/"$VERSION"; do
        if [ -e "$dir/firebird.msg" ]; then
            echo "${dir#"$ROOT"}"
            return 0
        fi
    done
    die "the firebird root directory is missing ($ROOT/usr/lib/*/firebird/$VERSION)"
}

# user:group ids of the root's firebird user, for chroot.
root_firebird_ids() {
    awk -F: '$1 == "firebird" { print $3 ":" $4 }' "$ROOT/etc/passwd"
}

server_pid() {
    local pid
    [ -r "$PIDFILE" ] || return 1
    pid=$(cat "$PIDFILE")
    [ -n "$pid" ] && [ -d "/proc/$pid" ] || return 1
    [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$ROOT$SERVER" ] || return 1
    echo "$pid"
}

port_open() {
    (exec 3<>"/dev/tcp/$BIND/$FB_PORT") 2>/dev/null
}

# Runs a command as the firebird user against the private root directory. Embedded
# access (no host in the database path) is used only while the server is stopped.
as_firebird() {
    local run=(runuser -u firebird --)
    [ -z "$ROOT" ] || run=(chroot --userspec="$(root_firebird_ids)" "$ROOT")
    (cd "$DIR" && "${run[@]}" env FIREBIRD="$SRV_DIR" \
        FIREBIRD_LOCK="$SRV_DIR/lock" FIREBIRD_TMP="$SRV_DIR/tmp" "$@")
}

write_config() {
    mkdir -p "$DIR"/{lock,tmp,data,client}
    # Everything of the server's root but the configuration comes from the package.
    local entry root
    root=$(package_root)
    for entry in firebird.msg intl plugins UDF lib; do
        if [ -n "$ROOT" ] && [ "$entry" = plugins ]; then
            # Firebird 4 refuses a plugin whose real path is not the one it loaded
            # it from: hard links rather than a symbolic link.
            rm -rf "$DIR/plugins"
            cp -al "$ROOT$root/plugins" "$DIR/plugins"
        elif [ -e "$ROOT$root/$entry" ]; then
            ln -sfn "$root/$entry" "$DIR/$entry"
        fi
    done
    in_root cat "$root/plugins.conf" >"$DIR/plugins.conf"
    {
        echo "# Private test instance, written by firebird-test-server.sh."
        echo "SecurityDatabase = $SECURITY_DB"
        if [ "$PROFILE" = legacy ]; then
            cat <<EOF
# The library logs in the legacy way: user name and plain password, no encryption.
AuthServer = Srp, Legacy_Auth
AuthClient = Srp, Legacy_Auth
UserManager = Srp, Legacy_UserManager
WireCrypt = Enabled
EOF
        else
            echo "# Authentication, user manager and wire encryption: the server's defaults."
        fi
        cat <<EOF
RemoteBindAddress = $BIND
RemoteServicePort = $FB_PORT
RemoteAuxPort = 0
# How long the server waits for the auxiliary (event) connection.
ConnectionTimeout = 10
UdfAccess = None
TempDirectories = $SRV_DIR/tmp
EOF
    } >"$DIR/firebird.conf"
    cat >"$DIR/databases.conf" <<EOF
security.db = $SECURITY_DB
{
    RemoteAccess = false
}
varnel = $DATABASE
EOF
    # Client side of the host's isql-fb over the network (the sql command and the
    # tests): the login and encryption the server asks for.
    case "$PROFILE" in
        legacy) printf 'AuthClient = Srp, Legacy_Auth\nWireCrypt = Enabled\n' ;;
        fb3default | ipv6) printf 'AuthClient = Srp\nWireCrypt = Required\n' ;;
        fb4) printf 'AuthClient = Srp256\nWireCrypt = Required\n' ;;
    esac >"$DIR/client/firebird.conf"
    if [ -n "$ROOT" ]; then
        chown -R "$(root_firebird_ids)" "$DIR"
    else
        chown -R firebird:firebird "$DIR"
    fi
    chmod 0755 "$DIR" "$DIR/client"
}

create_security_db() {
    if [ ! -e "$ROOT$SECURITY_DB" ]; then
        echo "create database '$SECURITY_DB';" | as_firebird "$EMBEDDED_ISQL" -q >/dev/null
        as_firebird "$EMBEDDED_ISQL" -q -user SYSDBA -i "$SECURITY_SQL" "$SECURITY_DB" >/dev/null
    fi
    if [ "$PROFILE" = legacy ]; then
        as_firebird "$EMBEDDED_ISQL" -q -user SYSDBA "$SECURITY_DB" >/dev/null <<EOF
create or alter user $FB_USER password '$FB_PASSWORD' using plugin Legacy_UserManager;
create or alter user $FB_USER password '$FB_PASSWORD' using plugin Srp;
commit;
EOF
    else
        as_firebird "$EMBEDDED_ISQL" -q -user SYSDBA "$SECURITY_DB" >/dev/null <<EOF
create or alter user $FB_USER password '$FB_PASSWORD' using plugin Srp;
create or alter user $MIXED_USER password '$MIXED_PASSWORD' using plugin Srp;
create or alter user $EVENT_USER password '$EVENT_PASSWORD' using plugin Srp;
commit;
EOF
    fi
}

create_test_db() {
    [ -e "$ROOT$DATABASE" ] && return 0
    local grants=""
    if [ "$PROFILE" != legacy ]; then
        grants="grant select, insert on orders to user $MIXED_USER, user $EVENT_USER;
grant execute on procedure post_events to user $MIXED_USER, user $EVENT_USER;
commit;"
    fi
    as_firebird "$EMBEDDED_ISQL" -q -user SYSDBA >/dev/null <<EOF
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
$grants
EOF
}

cmd_start() {
    if server_pid >/dev/null; then
        say "running on $DSN_HOST:$FB_PORT (pid $(server_pid))"
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
    local how=(--chuid firebird:firebird --chdir "$DIR" --exec "$SERVER")
    if [ -n "$ROOT" ]; then
        how=(--exec "$ROOT$SERVER" --startas "$(command -v chroot)" --
            --userspec="$(root_firebird_ids)" "$ROOT" "$SERVER")
    fi
    env FIREBIRD="$SRV_DIR" FIREBIRD_LOCK="$SRV_DIR/lock" FIREBIRD_TMP="$SRV_DIR/tmp" \
        start-stop-daemon --start --background --make-pidfile --pidfile "$PIDFILE" "${how[@]}"
    for _ in $(seq 1 400); do
        if port_open; then
            say "running on $DSN_HOST:$FB_PORT (pid $(cat "$PIDFILE")), database $DATABASE"
            return 0
        fi
        # Until it has exec'd the server the child is still start-stop-daemon.
        [ -d "/proc/$(cat "$PIDFILE" 2>/dev/null)" ] || break
        sleep 0.05
    done
    die "the server did not start; see $SERVER_LOG"
}

cmd_stop() {
    if ! server_pid >/dev/null; then
        rm -f "$PIDFILE"
        return 0
    fi
    need_root stop
    start-stop-daemon --stop --quiet --oknodo --pidfile "$PIDFILE" --exec "$ROOT$SERVER" \
        --retry TERM/10/KILL/5
    rm -f "$PIDFILE"
    say "stopped"
}

cmd_status() {
    local pid
    if pid=$(server_pid); then
        echo "running on $DSN_HOST:$FB_PORT (pid $pid), database $DATABASE"
        return 0
    fi
    echo "not running"
    return 3
}

cmd_env() {
    server_pid >/dev/null || say "warning: the server is not running (start it first)"
    local p=$ENV_PREFIX
    printf 'export %sSERVER=%q %sPORT=%q %sDATABASE=%q' "$p" "$BIND" "$p" "$FB_PORT" "$p" "$DATABASE"
    printf ' %sUSER=%q %sPASSWORD=%q' "$p" "$FB_USER" "$p" "$FB_PASSWORD"
    printf ' %sISQL=%q %sFIREBIRD=%q %sDSN=%q' "$p" "$ISQL" "$p" "$DIR/client" \
        "$p" "$DSN_HOST/$FB_PORT:$DATABASE"
    if [ "$PROFILE" != legacy ]; then
        printf ' %sMIXED_USER=%q %sMIXED_PASSWORD=%q %sEVENT_USER=%q %sEVENT_PASSWORD=%q' \
            "$p" "$MIXED_USER" "$p" "$MIXED_PASSWORD" "$p" "$EVENT_USER" "$p" "$EVENT_PASSWORD"
    fi
    printf '\n'
}

cmd_sql() {
    server_pid >/dev/null || die "the server is not running"
    local run=(env FIREBIRD="$DIR/client" FIREBIRD_LOCK="$DIR/client/lock"
        "$ISQL" -q -user "$FB_USER" -password "$FB_PASSWORD" "$DSN_HOST/$FB_PORT:$DATABASE")
    if [ $# -gt 0 ]; then
        printf '%s\ncommit;\n' "$*" | "${run[@]}"
    else
        "${run[@]}"
    fi
}

cmd_clean() {
    cmd_stop
    need_root clean
    rm -rf "$DIR"
}

# The server stopped as a crash stops it (SIGKILL: no client hears a word), or frozen
# and thawed as a hung server is (SIGSTOP, SIGCONT): its sockets stay open and silent.
cmd_signal() {
    local pid
    pid=$(server_pid) || die "the server is not running"
    need_root "$1"
    case "$1" in
        kill)
            kill -KILL "$pid"
            for _ in $(seq 1 100); do
                [ -d "/proc/$pid" ] || break
                sleep 0.05
            done
            rm -f "$PIDFILE"
            say "killed"
            ;;
        freeze) kill -STOP "$pid" ;;
        thaw) kill -CONT "$pid" ;;
    esac
}

case "${1:-}" in
    install) cmd_install ;;
    kill | freeze | thaw) cmd_signal "$1" ;;
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
        sed -n '2,/^# What this changes/p' "$0" | sed -e '$d' -e 's/^# \{0,1\}//'
        exit 2
        ;;
esac
