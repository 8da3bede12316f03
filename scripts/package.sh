#!/usr/bin/env bash
# Builds the Debian package of the tool into build-package/: the program
# installed under /usr, its deployment file under /etc/agendaiva.
# Extra arguments go to the CMake configuration (for example
# -DAGENDAIVA_CENTRAL_HOST=central.example.org).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-package -G Ninja -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_BUILD_TYPE=Release \
  -DDA_BUILD_TESTS=OFF -DDA_BUILD_BENCH=OFF "$@"
cmake --build build-package -j "$(nproc)"
(cd build-package && cpack -G DEB)
ls -1 build-package/*.deb
