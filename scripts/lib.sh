# Shared helpers for the project's scripts. Source it; do not run it.

# Pauses before the second and third try of an apt-get call, in seconds:
# enough for a passing hiccup; a mirror mid-sync for longer is reported, and
# only the step that needs the package is skipped.
TARVOLA_APT_PAUSES=${TARVOLA_APT_PAUSES:-"5 15"}

# Runs "$@" (an apt-get command) up to three times, pausing longer each time,
# its output into the file APT_LOG; returns the last try's status.
apt_with_retries() {
    local pause status=0
    for pause in 0 $TARVOLA_APT_PAUSES; do
        if [ "$pause" != 0 ]; then
            echo "== $1 $2 failed, trying again in ${pause}s" >&2
            sleep "$pause"
        fi
        if "$@" >"$APT_LOG" 2>&1; then return 0; else status=$?; fi
    done
    return "$status"
}

# The packages named as arguments that are not installed yet, one a line.
missing_packages() {
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' \
            || echo "$pkg"
    done
}

# Installs the Debian packages named as arguments that are missing. Needs
# root (as CI and a fresh machine's root shell are). Refreshes the package
# lists once per script run, and only when something is missing; a list that
# will not refresh (one index of one mirror mid-sync, say) is reported and the
# install is tried anyway, since the packages may well come from the others.
# Returns 0 when all are installed; otherwise leaves the missing packages and
# apt's error of the last try in INSTALL_ERROR for the caller's one line, and
# returns non-zero.
install_packages() {
    local missing
    mapfile -t missing < <(missing_packages "$@")
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "== installing: ${missing[*]}"
    local APT_LOG
    APT_LOG=$(mktemp)
    if [ -z "${TARVOLA_APT_UPDATED:-}" ]; then
        if apt_with_retries apt-get update -q; then
            export TARVOLA_APT_UPDATED=1
        else
            echo "== apt-get update failed 3 times, installing from the lists there are: $(apt_error)" >&2
        fi
    fi
    local status=0
    DEBIAN_FRONTEND=noninteractive apt_with_retries \
        apt-get install -y -q --no-install-recommends "${missing[@]}" || status=$?
    [ "$status" -eq 0 ] || INSTALL_ERROR="${missing[*]}: $(apt_error)"
    rm -f "$APT_LOG"
    return "$status"
}

# apt's error in APT_LOG as one short line: the first unmet dependency it
# lists, if any, and its last "E:" line (the full list can run to dozens).
apt_error() {
    local unmet last
    unmet=$(grep -m1 -E '^ +[^ ]+ : Depends:' "$APT_LOG" | sed 's/  */ /g; s/^ //') || true
    last=$(grep -E '^E:' "$APT_LOG" | tail -n 1) || true
    if [ -z "$unmet$last" ]; then
        echo "apt-get exited with an error and printed no E: line"
    else
        echo "${unmet:+$unmet (and maybe more); }${last}"
    fi
}

# Installs packages every following step needs: when one cannot be
# installed, the run fails here with one line naming it and apt's error.
ensure_packages() {
    local INSTALL_ERROR=""
    install_packages "$@" && return 0
    echo "FAILED: cannot install ${INSTALL_ERROR}" >&2
    exit 1
}

# ensure_packages_for STEP PKG...: installs packages that only the step
# named STEP needs. When one cannot be installed, prints the line
# "SKIPPED: STEP: PKG...: <apt error>", records it for the summary of
# scripts/test.sh (file TARVOLA_SKIPPED_LOG) and returns 1: the caller skips
# that step and goes on with the others.
ensure_packages_for() {
    local name=$1 INSTALL_ERROR=""
    shift
    install_packages "$@" && return 0
    skip_step "$name" "$INSTALL_ERROR"
    return 1
}

# skip_step STEP REASON: the one line that says a step did not run and why.
skip_step() {
    local line="SKIPPED: $1: $2"
    echo "$line"
    if [ -n "${TARVOLA_SKIPPED_LOG:-}" ]; then echo "$line" >>"$TARVOLA_SKIPPED_LOG"; fi
}

# wine32_loader_works LOADER PROGRAM: whether Wine's 32-bit LOADER runs the
# Windows PROGRAM (a trivial one, run in the caller's WINEPREFIX, which the
# first run creates) within TARVOLA_WINE_PROBE_SECONDS (default 300), with
# the kernel running the 32-bit loader itself. Where it cannot (Exec format
# error), wine32 still installs, and where qemu-i386 emulation (binfmt_misc,
# TARVOLA_BINFMT_DIR) runs it instead, Wine starts but crashes later on.
# Returns 0, or 1 with the reason in WINE_PROBE_ERROR.
wine32_loader_works() {
    local loader=$1 program=$2 seconds=${TARVOLA_WINE_PROBE_SECONDS:-300}
    local entry handler output status=0
    for entry in "${TARVOLA_BINFMT_DIR:-/proc/sys/fs/binfmt_misc}"/*; do
        [ -f "$entry" ] && [ "$(head -n 1 "$entry" 2>/dev/null)" = enabled ] || continue
        # A handler for 32-bit little-endian ELF files (7f 45 4c 46 01 01)
        # of machine 3 (i386) takes them before the kernel's own loader.
        handler=$(awk '$1 == "interpreter" { path = $2 }
            $1 == "magic" && substr($2, 1, 12) == "7f454c460101" && substr($2, 37, 4) == "0300" {
                i386 = 1 }
            END { if (i386) print path }' "$entry")
        if [ -n "$handler" ]; then
            WINE_PROBE_ERROR="32-bit programs do not run natively but through $handler (binfmt_misc: $entry), where Wine crashes"
            return 1
        fi
    done
    output=$(timeout "$seconds" bash -c 'exec "$@"' probe "$loader" "$program" 2>&1) || status=$?
    case $status in
        0) return 0 ;;
        124) WINE_PROBE_ERROR="$loader did not run a trivial program within ${seconds}s" ;;
        *) WINE_PROBE_ERROR="$loader cannot run a trivial program (exit $status): $(
            printf '%s\n' "$output" | awk 'NF { print; exit }')" ;;
    esac
    return 1
}

# wine32_loader_for STEP LOADER PROGRAM: wine32_loader_works, or the one
# SKIPPED line for STEP with the reason (see skip_step) and status 1.
wine32_loader_for() {
    local WINE_PROBE_ERROR=""
    wine32_loader_works "$2" "$3" && return 0
    skip_step "$1" "$WINE_PROBE_ERROR"
    return 1
}

# The packages every native build needs.
BUILD_PACKAGES=(cmake ninja-build g++ pkg-config libssl-dev openssl libgtest-dev libbenchmark-dev
    python3)
# The tool's tests check its installed man page and bash completion.
BUILD_PACKAGES+=(groff bash-completion)
# tarvolacrypt migrate: the client libraries it links, and what its tests run
# against (an SQLite file, a PostgreSQL server, both through ODBC drivers, and
# a MariaDB server through its ODBC driver).
MIGRATE_PACKAGES=(libsqlite3-dev libpq-dev unixodbc-dev sqlite3 postgresql odbc-postgresql
    libsqliteodbc mariadb-server odbc-mariadb)
BUILD_PACKAGES+=("${MIGRATE_PACKAGES[@]}")
# The .NET binding's tests and benchmark: Mono's C# compiler and runtime.
DOTNET_PACKAGES=(mono-mcs mono-runtime)

# scripts/bench.sh: the second yardstick of the block cipher, which only the
# benchmark program links (it builds without it).
BENCH_PACKAGES=(nettle-dev)

# Each step's heading says how long the run has taken so far.
step() { printf '\n==== %s (at %d s)\n' "$*" "$SECONDS"; }

# build_default_tool ROOT: builds the tool in ROOT's default preset, as the
# benchmark scripts run it, and prints its path.
build_default_tool() {
    (cd "$1" && cmake --preset default >/dev/null &&
        cmake --build --preset default --target tarvolacrypt_tool >/dev/null) || return
    echo "$1/build/default/tools/tarvolacrypt"
}
