#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and demos with (Debian 12).
# Does nothing when everything is there already.
set -euo pipefail
packages=(build-essential g++ cmake pkg-config dpkg-dev libcurl4-openssl-dev libgtest-dev
          libgmock-dev libbenchmark-dev libcpp-httplib-dev libcli11-dev nlohmann-json3-dev
          libsqlite3-dev clang tinyproxy libclang-rt-14-dev llvm-14 libpng-dev chromium)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The HTML report's checkers (html-validate, axe-core), pinned in tests/browser/package-lock.json,
# for the browser test; Node.js and npm from Debian where the machine has none.
if ! command -v node > /dev/null || ! command -v npm > /dev/null; then
  echo "installing: nodejs npm"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends nodejs npm
fi
checkers="$(dirname "$0")/../tests/browser"
if ! cmp -s "$checkers/package-lock.json" "$checkers/node_modules/.installed-lock.json"; then
  echo "installing the report checkers (npm ci in tests/browser)"
  (cd "$checkers" && npm ci --no-audit --no-fund --loglevel=error)
  cp "$checkers/package-lock.json" "$checkers/node_modules/.installed-lock.json"
fi
