#!/usr/bin/env bash
# The tool as a user installs it: `cmake --install` of a build into a fresh
# prefix, then the installed tool run from there without LD_LIBRARY_PATH,
# linked with -z now and -z relro, with its man page (clean under groff) and
# bash completion in place, every option of --help in the man page, and each
# command offered by the completion exactly the options the tool takes with it.
#
# Usage: install_test.sh BUILD_DIR
set -euo pipefail

BUILD_DIR=$1
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
PREFIX=$WORK/prefix
FAILURES=0
fail() {
    echo "FAIL: $*" >&2
    FAILURES=$((FAILURES + 1))
}

cmake --install "$BUILD_DIR" --prefix "$PREFIX" >"$WORK/install.log"
TOOL=$PREFIX/bin/tarvolacrypt
MAN_PAGE=$(find "$PREFIX" -path '*/man1/tarvolacrypt.1')
COMPLETION=$PREFIX/share/bash-completion/completions/tarvolacrypt

printf 'install test key\n' >"$WORK/key"
for mode in 0 1; do
    result=$(echo value | env -u LD_LIBRARY_PATH "$TOOL" encrypt --quiet --mode $mode \
        --key-file "$WORK/key" | env -u LD_LIBRARY_PATH "$TOOL" decrypt --quiet --mode auto \
        --key-file "$WORK/key") || true
    [ "$result" = value ] || fail "installed tool, mode $mode round trip gave '$result'"
done

dynamic=$(readelf -d "$TOOL")
grep -q 'RUNPATH.*\$ORIGIN/\.\./lib' <<<"$dynamic" || fail "no \$ORIGIN/../lib run path: $dynamic"
grep -Eq 'BIND_NOW|FLAGS_1.*NOW' <<<"$dynamic" || fail "not linked with -z now"
readelf -lW "$TOOL" | grep -q GNU_RELRO || fail "not linked with -z relro"

[ -f "$MAN_PAGE" ] || fail "no man page under $PREFIX"
[ -f "$COMPLETION" ] || fail "no bash completion at $COMPLETION"
if [ -f "$MAN_PAGE" ]; then
    warnings=$(groff -man -ww -z "$MAN_PAGE" 2>&1) || true
    [ -z "$warnings" ] || fail "groff warns about the man page: $warnings"
fi

# What the completion offers, as bash-completion would ask for it.
complete_words() {
    bash -c '
        source /usr/share/bash-completion/bash_completion
        source "$1"; shift
        COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
        _tarvolacrypt tarvolacrypt "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
        printf "%s\n" "${COMPREPLY[@]}"' _ "$COMPLETION" "$@" | sort | tr '\n' ' '
}
[ "$(complete_words tarvolacrypt decrypt --mode '')" = "0 1 auto " ] ||
    fail "completion of decrypt --mode: $(complete_words tarvolacrypt decrypt --mode '')"
[ "$(complete_words tarvolacrypt encrypt --mode '')" = "0 1 " ] ||
    fail "completion of encrypt --mode: $(complete_words tarvolacrypt encrypt --mode '')"
[ "$(complete_words tarvolacrypt re)" = "reencrypt " ] || fail "completion of the command"

# Every option --help names is in the man page, and each command is offered
# exactly the options the tool takes with it.
help_options=$(env -u LD_LIBRARY_PATH "$TOOL" --help | grep -oE '(^|[ ,])--?[a-z0-9][a-z0-9-]*' |
    tr -d ' ,' | grep -vxE -e '-h|--help|--version' | sort -u)
for option in $help_options; do
    grep -qF -- "${option//-/\\-}" "$MAN_PAGE" || fail "the man page lacks $option"
done
for command in encrypt decrypt reencrypt migrate scan; do
    offered=" $(complete_words tarvolacrypt "$command" -)"
    for option in $(printf '%s\n' $help_options $offered | grep -vxE -e '--help|--' | sort -u); do
        # Nothing runs: an option's value would be the first --zz, and the
        # second is unknown.
        refusal=$(env -u LD_LIBRARY_PATH "$TOOL" "$command" "$option" --zz --zz 2>&1 </dev/null) || true
        taken=yes offers=no
        grep -qF -e "$option cannot be used with" -e "unknown option '$option'" <<<"$refusal" &&
            taken=no
        [[ $offered == *" $option "* ]] && offers=yes
        [ "$taken" = "$offers" ] ||
            fail "$command $option: the tool takes it: $taken; the completion offers it: $offers"
    done
done

if [ "$FAILURES" -ne 0 ]; then
    echo "install: $FAILURES check(s) failed" >&2
    exit 1
fi
echo "install: the tool runs from $PREFIX; man page and completion in place"
