#!/usr/bin/env bash
# Regenerates the committed seed corpora in fuzz/corpus/<target>/.
#
# Valid ciphertexts are made with the openssl command-line tool, not with this
# library, so that the seeds do not inherit its faults. Each seed is the
# target's zero-separated fields (see fuzz_support.h). Run from anywhere:
#   fuzz/make_corpus.sh
set -euo pipefail
# Lengths are byte counts, whatever the caller's locale.
export LC_ALL=C
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../scripts/lib.sh
source "$here/../scripts/lib.sh"
ensure_packages openssl xxd

corpus=$here/corpus

# seed TARGET NAME FIELD...: writes the fields joined by zero bytes.
seed() {
    local target=$1 name=$2
    shift 2
    mkdir -p "$corpus/$target"
    local first=1 field
    for field in "$@"; do
        [ $first -eq 1 ] || printf '\0'
        printf '%s' "$field"
        first=0
    done >"$corpus/$target/$name"
}

hex_of() { xxd -p -c 256 | tr -d '\n'; }

# key_hex KEYTEXT BYTES: the key text's bytes cut or zero-filled to BYTES.
key_hex() {
    { printf '%s' "$1" | head -c "$2"; head -c "$2" /dev/zero; } | head -c "$2" | hex_of
}

# The mode-0 text of PLAINTEXT under KEYTEXT.
mode0() {
    local text=$1 key=$2
    local length=${#text}
    local padded=$(((length + 15) / 16 * 16))
    local header
    header=$(printf '%02X' "$length" | cut -c1-3)
    header=$(printf '%-8s' "$header" | tr ' ' '0')
    printf '%s' "$header"
    { printf '%s' "$text"; head -c $((padded - length)) /dev/zero; } |
        openssl enc -aes-128-ecb -nopad -K "$(key_hex "$key" 16)" | hex_of | tr 'a-f' 'A-F'
}

# The mode-1 envelope of PLAINTEXT under KEYTEXT (under 32 characters) with
# a fixed IV, so that the seeds do not change from run to run.
mode1() {
    local text=$1 key=$2
    local material=$(((${#key} / 16 + 1) * 16))
    local iv=000102030405060708090a0b0c0d0e0f
    printf '%s$' "$(printf '%s' "$iv" | xxd -r -p | openssl base64 -A)"
    printf '%s' "$text" |
        openssl enc "-aes-$((material * 8))-cbc" -K "$(key_hex "$key" "$material")" -iv "$iv" |
        openssl base64 -A
}

rm -rf "$corpus"
k16=0123456789ABCDEF
k31='a key text of 31 characters....'
k32='a key text of exactly 32 chars..'
hex32=00112233445566778899AABBCCDDEEFF

# Decrypt mode 0: valid texts, then one seed per refusal.
seed fuzz_decrypt_hex valid-1 "" "$(mode0 a "")"
seed fuzz_decrypt_hex valid-13 Tarvola "$(mode0 'Hello, world!' Tarvola)"
seed fuzz_decrypt_hex valid-16 "$k16" "$(mode0 exactly16chars!! "$k16")"
seed fuzz_decrypt_hex valid-17 "$k31" "$(mode0 'seventeen chars!!' "$k31")"
seed fuzz_decrypt_hex valid-high-bytes k "$(mode0 $'caf\xc3\xa9 \t tab and \xff' k)"
seed fuzz_decrypt_hex wrong-key other "$(mode0 'Hello, world!' Tarvola)"
seed fuzz_decrypt_hex empty k ""
seed fuzz_decrypt_hex short-39 k "0100000${hex32}"
seed fuzz_decrypt_hex header-lowercase k "0a000000${hex32}"
seed fuzz_decrypt_hex header-leading-space k " 1000000${hex32}"
seed fuzz_decrypt_hex header-inner-space k "10 00000${hex32}"
seed fuzz_decrypt_hex body-40 k "10000000${hex32}01234567"
seed fuzz_decrypt_hex body-g k "10000000${hex32:0:31}g"
seed fuzz_decrypt_hex body-spaces k "10000000${hex32:0:28}    "
seed fuzz_decrypt_hex body-48 k "20000000${hex32}0123456789ABCDEF"
seed fuzz_decrypt_hex all-zero-block "" "10000000$(head -c 16 /dev/zero |
    openssl enc -aes-128-ecb -nopad -K "$(key_hex "" 16)" | hex_of | tr 'a-f' 'A-F')"

# Decrypt mode 1: each key size, then the failures.
seed fuzz_decrypt_envelope valid-empty "" "$(mode1 "" "")"
seed fuzz_decrypt_envelope valid-aes128 "fifteen chars.." "$(mode1 'Hello, world!' 'fifteen chars..')"
seed fuzz_decrypt_envelope valid-aes256-16 "$k16" "$(mode1 exactly16chars!! "$k16")"
seed fuzz_decrypt_envelope valid-aes256-31 "$k31" "$(mode1 'a text of two blocks and a bit more' "$k31")"
seed fuzz_decrypt_envelope key-32 "$k32" "$(mode1 'Hello, world!' "$k31")"
seed fuzz_decrypt_envelope wrong-key other "$(mode1 'Hello, world!' Tarvola)"
seed fuzz_decrypt_envelope no-separator k "AAECAwQFBgcICQoLDA0ODw=="
seed fuzz_decrypt_envelope nothing-after k 'AAECAwQFBgcICQoLDA0ODw==$'
seed fuzz_decrypt_envelope two-separators k "$(mode1 abc k)\$AAAA"
seed fuzz_decrypt_envelope short-iv k 'AAECAw==$AAECAwQFBgcICQoLDA0ODw=='
seed fuzz_decrypt_envelope partial-block k 'AAECAwQFBgcICQoLDA0ODw==$AAECAwQFBgc='
seed fuzz_decrypt_envelope whitespace k "$(mode1 abc k | sed 's/\$/$\n /')"

# Round trips: key text, plaintext, text already in the output buffer.
seed fuzz_roundtrip_hex one "" a
seed fuzz_roundtrip_hex prefixed Tarvola 'Hello, world!' 'kept: '
seed fuzz_roundtrip_hex block "$k16" exactly16chars!!
seed fuzz_roundtrip_hex long-key "$k32" $'two blocks \x01\x7f\x80\xff and more than that'
seed fuzz_roundtrip_hex empty-refused k "" kept
seed fuzz_roundtrip_envelope empty "" ""
seed fuzz_roundtrip_envelope aes128 short 'Hello, world!'
seed fuzz_roundtrip_envelope aes256 "$k16" exactly16chars!!
seed fuzz_roundtrip_envelope aes256-31 "$k31" $'three blocks \x01\x7f\x80\xff of text, exactly 48 chars'
seed fuzz_roundtrip_envelope key-32-refused "$k32" text

# The block cipher: FIPS-197 appendix B and C.1, then the extreme keys.
differential() {
    mkdir -p "$corpus/fuzz_aes_differential"
    printf '%s' "$2" | xxd -r -p >"$corpus/fuzz_aes_differential/$1"
}
differential fips197-b 2b7e151628aed2a6abf7158809cf4f3c3243f6a8885a308d313198a2e0370734
differential fips197-c1 000102030405060708090a0b0c0d0e0f00112233445566778899aabbccddeeff
differential zeros "$(printf '0%.0s' {1..64})"
differential ones "$(printf 'f%.0s' {1..96})"

# --where: texts that a reader lacking one quoting or comment form took for
# one condition (the first two ran a DELETE through psqlODBC), and the plain
# ones that must pass.
seed fuzz_sql_condition dollar-quote "\$\$'\$\$ = \$\$x\$\$); COMMIT; DELETE FROM victim; SELECT (1) FROM secrets WHERE ('' = ''"
seed fuzz_sql_condition e-string "E'\\'' || 'a\\' <> 'x'); COMMIT; DELETE FROM victim; SELECT (1) FROM secrets WHERE ('' = ''"
seed fuzz_sql_condition tagged-dollar-quote "\$q\$'\$q\$ <> '' ; DELETE FROM victim; SELECT ''"
seed fuzz_sql_condition psqlodbc-tag "\$a_b\$'\$a_b\$ = 'x;y'"
seed fuzz_sql_condition number-before-quote "v = 1E'a;b' OR w = 0x1F\$\$;\$\$"
seed fuzz_sql_condition hash-comment $'v = 1 # \'\n); COMMIT; DELETE FROM victim; SELECT (1) FROM secrets WHERE (1=1'
seed fuzz_sql_condition executable-comment "v = 1 /*!' */ = ';'"
seed fuzz_sql_condition dash-before-quote $'v = 1 --\' \n; DELETE FROM victim; -- \''
seed fuzz_sql_condition mariadb-driver-dash $'v > -\n\'\n; DELETE FROM victim; \''
seed fuzz_sql_condition backslash "v = '\\''; DELETE FROM victim; SELECT '\\''"
seed fuzz_sql_condition nested-comment "v = 1 /* /* */ ' */ ; DELETE FROM victim; --'"
# shellcheck disable=SC2016 # SQL's backticks, not the shell's
seed fuzz_sql_condition quoted-names '`a;b` = 1 AND [a]];x] = "c;d"'
seed fuzz_sql_condition plain "v <> 'a;b' AND (w = 'it''s;' OR w IS NULL)"
seed fuzz_sql_condition parentheses "true) OR (true"

find "$corpus" -type f | wc -l | xargs echo "seeds written:"
