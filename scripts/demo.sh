#!/usr/bin/env bash
# Install what is missing, build, and print the bundled sample job: a 4 x 3
# inch colour card rasterized at 720 dpi for a family 7 printer (woven,
# compressed). The printer stream and its preview land in build/.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
gzip -dc samples/sample.ras.gz > build/sample.ras
PPD=build/ppd/fam7.ppd build/inkbands 1 "${USER:-root}" sample 1 "" build/sample.ras \
  > build/sample.prn 2> build/sample.log
grep -E '^(PAGE|INFO|ERROR):' build/sample.log
build/tools/inkbands-preview -o build/sample build/sample.prn
echo "Printer stream: build/sample.prn ($(stat -c %s build/sample.prn) bytes)"
echo "Messages:       build/sample.log"
echo "Preview:        build/sample-1.png"
