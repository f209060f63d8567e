#!/usr/bin/env bash
# A demo node to try Vaxel without Kubo: the JavaScript RPC node of the end-to-end tests (a stand-in,
# not Kubo: no pin names, no /dag/stat, no remote pinning), offline, with a fresh repository seeded
# with a few files, its API on 127.0.0.1:5001 (Vaxel's default). Ctrl+C stops it and removes the repository.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --node
if [ ! -f tests/e2e/node_modules/.package-lock.json ]; then
    (cd tests/e2e && npm ci --no-audit --no-fund --loglevel=error)
fi
echo "Demo node (JavaScript stand-in, not Kubo) on 127.0.0.1:${1:-5001}; Ctrl+C stops it."
# The launcher stops when its stdin closes; keep it open so the node also runs in the background.
tail -f /dev/null | node tests/e2e/launch-node.mjs --port "${1:-5001}" --seed
