#!/usr/bin/env bash
# Installs what the tests check Brindle's web output with (tests/web: the Khronos glTF
# validator, CesiumJS and puppeteer-core), from the committed package-lock.json, with node's own
# package manager; and Debian's Chromium, which puppeteer drives (no browser is downloaded).
# Usage: web-setup.sh. Needs node 18 or later and npm.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v npm >/dev/null; then
  echo "web-setup.sh: npm not found; the web tests need node and npm" >&2
  exit 1
fi
scripts/install-packages.sh chromium
cd tests/web
npm ci --no-audit --no-fund --loglevel=error
