#!/usr/bin/env bash
# Installs those of the Debian packages named that are missing, with apt-get (as root, or
# through sudo). Usage: install-packages.sh [--no-install-recommends] PACKAGE...
set -euo pipefail
options=()
if [[ "${1:-}" == --no-install-recommends ]]; then
  options+=("$1")
  shift
fi
missing=()
for package in "$@"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
    || missing+=("$package")
done
((${#missing[@]})) || exit 0
echo "Installing: ${missing[*]}" >&2
sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${options[@]}" \
  "${missing[@]}" >/dev/null
