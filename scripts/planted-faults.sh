#!/usr/bin/env bash
# Plants known faults in the sources, one at a time, and lists the tests that catch
# each: a test suite that stops catching one has lost something. For each fault it
# edits one file, builds the preset, runs every test (unit and integration, against
# the four test servers), prints the failing tests with their times and puts the
# file back.
#
#   scripts/planted-faults.sh [-p PRESET] [-b] [FAULT...]   # default: dev, every fault
#
# -b only checks that each fault applies and builds (no tests).
#
# A fault that no test catches is printed as "NOT CAUGHT"; one whose edit no longer
# applies (the code moved) as "DOES NOT APPLY". The servers' variables are taken from
# the environment or, without them, from scripts/firebird-test-server.sh.
set -euo pipefail

cd "$(dirname "$0")/.."
preset=dev
build_only=no
while [[ ${1:-} == -* ]]; do
    case $1 in
        -p) preset=$2; shift 2 ;;
        -b) build_only=yes; shift ;;
        *) echo "usage: $0 [-p PRESET] [-b] [FAULT...]" >&2; exit 2 ;;
    esac
done

if [[ -z ${VARNEL_TEST_SERVER:-} ]]; then
    for server in legacy fb3default fb4 ipv6; do
        eval "$(scripts/firebird-test-server.sh "$server" env)"
    done
fi
export VARNEL_REQUIRE_SERVER=1

# A test that a fault keeps from ending is killed at its time-out and may leave a
# server it stopped or froze: each run finds all four going.
servers_up() {
    for server in legacy fb3default fb4 ipv6; do
        scripts/firebird-test-server.sh "$server" thaw >/dev/null 2>&1 || true
        scripts/firebird-test-server.sh "$server" start >/dev/null 2>&1 || echo "cannot start $server"
    done
}

# Each fault: its files (each must change), then a perl substitution applied to each
# file whole (-0777), then what it breaks.
declare -A file edit about
add() { file[$1]=$2; edit[$1]=$3; about[$1]=$4; }

add 1 src/wire/handshake.cpp \
    's/(StartEncryption\(std::move\(sending\), std::move\(receiving\)\);\n\s*CResponse response;\n\s*)if \(!ReadResponse\(stream_, response\)\) \{\n\s*return false;\n\s*\}/$1(void)ReadResponse(stream_, response);/' \
    "the answer to op_crypt read but not checked"
add 2 src/host/dll/dll_api.cpp \
    's/buffer\[length\] = .\\0.;/if (length == whole.Length()) { buffer[length] = 0; }/' \
    "Varnel.dll's CopyOut leaves a cut text without its zero"
add 3 src/host/event_ring.cpp \
    's/(entry\.sequence - oldest->sequence\) )< 0/$1> 0/' \
    "EventRing::TakeOldest takes the newest"
add 4 src/events/event_records.cpp \
    's/(FindEventRequestByName\([^{]*\{\n\s*for \(size_t i = )0/${1}1/' \
    "FindEventRequestByName starts at index 1"
add 5 src/host/commands.cpp \
    's/(const size_t keyLength = std::strlen\(key\);\n)/$1    if (const char* found = std::strstr(text, key)) {\n        const char* stop = std::strchr(found, \x27;\x27);\n        const size_t at = static_cast<size_t>(found - text);\n        const size_t end = stop != nullptr ? static_cast<size_t>(stop - text) : lowered.Length();\n        *value = AnsiString(connectionString.CStr() + at + keyLength, end - at - keyLength);\n        return true;\n    }\n    return false;\n/' \
    "FindConnectionValue finds a key anywhere"
add 6 "src/wire/handshake.cpp src/wire/database_requests.cpp" \
    's/LegacyPasswordHash\(settings_\.password\)/AnsiString(settings_.password)/; s/isc_dpb_password_enc, passwordHash/29, passwordHash/' \
    "the protocol-10 attach block carries the password"
add 7 src/wire/handshake.cpp \
    's/plugins_\(settings\.options\.wireCrypt == WireCryptPolicy::kRequired\n\s*\? settings\.options\.plugins\.Without\(AuthPlugin::kLegacy\)\n\s*: settings\.options\.plugins\)/plugins_(settings.options.plugins)/' \
    "under wirecrypt=Required Legacy_Auth stays offered"
add 8 src/wire/handshake.cpp \
    's/if \(stream_\.BufferedInput\(\) != 0\) \{\n[^}]*\}//' \
    "no check for bytes buffered in clear before op_crypt"
add 9 src/crypto/chacha20.cpp \
    's/if \(exhausted_\) \{\n\s*return false;\n\s*\}//' \
    "ChaCha20::Process ignores the exhausted counter"
add 10 src/channel/database.cpp \
    's/if \(link_ != Link::kUp && link_ != Link::kRepairing\) \{\n\s*return;  \/\/ found once\n\s*\}//' \
    "CDatabase::LoseConnection reports every loss"
add 11 src/channel/database_events.cpp \
    's/for \(EventEntry& entry : request\.events\) \{\n\s*entry\.lastCount = -1;\n\s*\}//' \
    "TryRestore keeps the counts before queueing again"
add 12 src/host/commands.cpp \
    's/state\.eventRing\.Forget\(handle\);//' \
    "DisconnectCommand keeps the ring's deliveries of the handle"
add 13 src/channel/database_events.cpp \
    's/(void CDatabase::WaitForFirstReport\([^{]*\{\n)/$1    return;\n/' \
    "WaitForFirstReport returns at once"
add 14 src/channel/database_events.cpp \
    's/auxStream\.Break\(ErrorKind::kProtocol, msg::kUnreadableReport\);//' \
    "ReadReport keeps the event connection after an unknown operation"
add 15 src/channel/database_events.cpp \
    's/(return true;  \/\/ one request per name[^\n]*\n\s*\}\n\s*)ExchangeDeadline exchange\(mainStream, deadline, options_\.timeoutMs\);/$1/' \
    "SubscribeEvent without its exchange deadline"
add 16 src/channel/database.cpp \
    's/if \(!EnterLockBy\(deadline\)\) \{\n(\s*\/\/ A listener waits)/lock.Enter();\n    if (deadline == 0 && false) {\n$1/' \
    "Disconnect waits for the lock without bound"
add 17 src/host/commands.cpp \
    's/seconds < 1( \|\| seconds > 3600\) \{\n\s*Fail\(msg::kBadTimeout\))/seconds < 0$1/' \
    "timeout= accepts 0"
add 18 "src/channel/database.cpp src/channel/database_events.cpp" \
    's/mainStream\.WriteInt\(op_abort_aux_connection\);\n\s*mainStream\.Flush\(\);//' \
    "op_abort_aux_connection not sent after a failed event connection"
add 19 src/platform/posix/socket.cpp \
    's/(case ECONNREFUSED:\n\s*return SocketError\{SocketFault::)kRefused/$1kTimedOut/' \
    "a refused connect taken for a time-out"
add 20 src/wire/wire_crypt.cpp \
    's/const CipherList& order = allowed\.count == 0 \? offered : allowed;/const CipherList& order = offered;/; s/if \(offered\.Contains\(order\.items\[i\]\)\)/if (allowed.count == 0 || allowed.Contains(order.items[i]))/' \
    "CiphersToTry ignores the order of wirecryptplugin="
add 21 src/channel/database_events.cpp \
    's/(const bool opened = auxStream\.Open\(&address, 1, budget < timeout \? budget : timeout\);\n)(\s*platform::LockGuard guard\(lock\);\n)/$2$1/' \
    "RepairEvents opens the event connection with the lock held"
add 22 src/wire/handshake.cpp \
    's/const bool modern = ModernOffered\(\) && version/const bool modern = version/' \
    "ReadAcceptance takes a later protocol when protocol 10 alone was offered"

faults=("$@")
if [[ ${#faults[@]} -eq 0 ]]; then
    mapfile -t faults < <(printf '%s\n' "${!file[@]}" | sort -n)
fi

backup=$(mktemp -d)
planted=()
put_back() {
    for target in "${planted[@]}"; do
        cp "$backup/${target//\//_}" "$target"
    done
    planted=()
}
trap 'put_back; rm -rf "$backup"' EXIT

for n in "${faults[@]}"; do
    applies=yes
    for target in ${file[$n]}; do
        cp "$target" "$backup/${target//\//_}"
        planted+=("$target")
        perl -0777 -pi -e "${edit[$n]}" "$target"
        if cmp -s "$target" "$backup/${target//\//_}"; then
            applies=no
        fi
    done
    if [[ $applies == no ]]; then
        echo "fault $n (${about[$n]}): DOES NOT APPLY"
        put_back
        continue
    fi
    if ! cmake --build --preset "$preset" -j2 >/tmp/planted-build.log 2>&1; then
        echo "fault $n (${about[$n]}): DOES NOT BUILD (/tmp/planted-build.log)"
        put_back
        continue
    fi
    if [[ $build_only == yes ]]; then
        echo "fault $n (${about[$n]}): builds"
        put_back
        continue
    fi
    servers_up
    caught=$(ctest --preset "$preset" -j2 2>&1 |
        sed -n 's/^ *[0-9]*\/[0-9]* Test *#[0-9]*: \([^ ]*\) .*\*\*\*\(Failed\|Timeout\|Exception[^ ]*\) *\([0-9.]* sec\).*/    \1 (\2, \3)/p' || true)
    put_back
    servers_up
    if [[ -z $caught ]]; then
        echo "fault $n (${about[$n]}): NOT CAUGHT"
    else
        echo "fault $n (${about[$n]}):"
        echo "$caught"
    fi
done
cmake --build --preset "$preset" -j2 >/dev/null
