#!/usr/bin/env bash
# Prints the size of the test suite against the product's, in lines:
# everything under tests/ (code and data) against src/ (without the generated
# charset tables) and host/. The aim is at most 40 %.
set -euo pipefail
cd "$(dirname "$0")/.."

lines() { find "$@" -type f -print0 | xargs -0 cat | wc -l; }

tests=$(lines tests)
product=$(lines src host ! -path src/mail/charset_tables.cpp)
echo "test/product ratio: $tests test lines / $product product lines = $((100 * tests / product)) % (aim: at most 40 %)"
