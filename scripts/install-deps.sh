#!/usr/bin/env bash
# Installs what building, running and testing Vaxel needs on Debian 12. Safe to run again.
set -euo pipefail

# Usage: install-deps.sh [--node] [extra Debian packages...]
#   --node  also Node.js with npm (for the end-to-end tests' independent node), unless already present
packages=(cmake ninja-build g++ qt6-base-dev libgl-dev)
for arg in "$@"; do
    case "$arg" in
    --node)
        # A machine may carry Node.js from elsewhere with its own npm; Debian's npm would conflict.
        command -v node >/dev/null && command -v npm >/dev/null || packages+=(nodejs npm) ;;
    *) packages+=("$arg") ;;
    esac
done
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
