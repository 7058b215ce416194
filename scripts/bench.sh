#!/usr/bin/env bash
# The side-by-side benchmark of Varnel and Firebird's own client library, on a Debian
# 12 machine from a fresh one on (as root, or as a user with sudo):
#
#   scripts/bench.sh [options of varnel_versus_client, e.g. --firings 500]
#
# 1. installs with apt what is missing of: the build tools and the libraries the
#    release preset configures with (cmake, ninja, g++, GoogleTest, OpenSSL's and
#    crypt's headers), firebird-dev (ibase.h and libfbclient, which only the benchmark
#    links) and strace;
# 2. starts the private Firebird 3 server at its default security settings
#    (scripts/firebird-test-server.sh fb3default start: port 3052 on 127.0.0.1);
# 3. builds the library and the benchmark with the release preset;
# 4. runs build/release/bench/varnel_versus_client with the given options (a few
#    minutes at most with the defaults; --help lists the options). Servers of the
#    other profiles that are running already can be chosen with --prefix.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

scripts/install-packages.sh cmake ninja-build g++ libgtest-dev libgmock-dev libssl-dev \
    libcrypt-dev firebird-dev strace
as_root scripts/firebird-test-server.sh fb3default start
for profile in legacy fb3default fb4; do
    if scripts/firebird-test-server.sh "$profile" status >/dev/null; then
        eval "$(scripts/firebird-test-server.sh "$profile" env)"
    fi
done
cmake --preset release >/dev/null
cmake --build --preset release -j2 --target varnel varnel_versus_client
exec build/release/bench/varnel_versus_client "$@"
