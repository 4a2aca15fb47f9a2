#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The dynamic symbol table of the module holds exactly the expected exports.
#   check_elf_exports.sh MODULE EXPECTED_LIST [NM]
set -euo pipefail
module=$1 expected=$2 nm=${3:-nm}
actual=$("$nm" -D --defined-only "$module" | awk '{print $NF}' | LC_ALL=C sort)
if ! diff -u <(LC_ALL=C sort "$expected") <(echo "$actual"); then
    echo "FAILED: the exports of $module differ from $expected" >&2
    exit 1
fi
echo "exports of $module: $(echo "$actual" | wc -l) as expected"
