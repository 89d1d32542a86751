# Shared helpers for the project's scripts. Source it; do not run it.

# Installs the Debian packages named as arguments that are not installed yet.
# Needs root (as CI and a fresh machine's root shell are); runs apt-get update
# once per script run, and only when something is missing.
ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' \
            || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "== installing: ${missing[*]}"
    if [ -z "${TARVOLA_APT_UPDATED:-}" ]; then
        apt-get update -qq
        export TARVOLA_APT_UPDATED=1
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# The packages every native build needs.
BUILD_PACKAGES=(cmake ninja-build g++ pkg-config libssl-dev openssl libgtest-dev libbenchmark-dev
    python3)
# The tool's tests check its installed man page and bash completion.
BUILD_PACKAGES+=(groff bash-completion)
# tarvolacrypt migrate: the client libraries it links, and what its tests run
# against (an SQLite file, a PostgreSQL server, both through ODBC drivers).
MIGRATE_PACKAGES=(libsqlite3-dev libpq-dev unixodbc-dev sqlite3 postgresql odbc-postgresql
    libsqliteodbc)
BUILD_PACKAGES+=("${MIGRATE_PACKAGES[@]}")

step() { printf '\n==== %s\n' "$*"; }
