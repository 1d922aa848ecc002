#!/bin/sh
# The loader end to end against local servers: installs what is missing,
# builds the shipping 32-bit program and runs it under Wine (see
# tools/demo/demo.py for what it shows and prints).
set -eu
cd "$(dirname "$0")/.."

tools/setup-debian.sh
cmake --preset i686 >/dev/null
cmake --build --preset i686
exec python3 tools/demo/demo.py --build build/i686 "$@"
