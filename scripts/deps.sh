#!/usr/bin/env bash
# Install the Debian 12 packages inkbands needs to build, test and print.
set -euo pipefail
PACKAGES="cmake g++ make python3 libcups2-dev libcupsimage2-dev cups-ppdc libgtest-dev
  libbenchmark-dev libpng-dev ghostscript cups cups-client cups-filters clang clang-format
  libclang-rt-14-dev libpappl-dev cups-ipp-utils pkg-config time"
missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    missing="$missing $p"
done
if [ -n "$missing" ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "inkbands: these packages are missing:$missing (run as root to install them)" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends $missing
fi
