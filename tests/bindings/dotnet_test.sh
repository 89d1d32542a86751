#!/usr/bin/env bash
# The .NET binding under Debian's Mono: TarvolaCrypt.cs compiled with its
# tests as C# 5 (what Windows PowerShell's Add-Type compiles), then run with
# the shipped dllmap.config, which finds the library by its soname, here in
# the build. Exit status 77 (skipped) without mcs or mono.
#
# Usage: dotnet_test.sh BINDING_DIR WORK_DIR, with TARVOLACRYPT_LIBRARY set.
set -euo pipefail

BINDING=$1
WORK=$2
for program in mcs mono; do
    if ! command -v "$program" >/dev/null; then
        echo "SKIPPED: no $program (Debian's mono-mcs and mono-runtime)"
        exit 77
    fi
done

mkdir -p "$WORK"
mcs -langversion:5 -warnaserror -out:"$WORK/binding_tests.exe" \
    "$BINDING/TarvolaCrypt.cs" "$BINDING/tests/TarvolaCryptTests.cs"
cp "$BINDING/dllmap.config" "$WORK/binding_tests.exe.config"
LD_LIBRARY_PATH=$(dirname "$TARVOLACRYPT_LIBRARY") exec mono "$WORK/binding_tests.exe"
