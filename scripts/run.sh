#!/usr/bin/env bash
# Sets up and starts the scheduler window: installs the packages, builds,
# and runs build/app/agendaiva. Without a display it runs on Qt's offscreen
# platform (nothing to see, but it starts and the pages can be rendered by
# the tests).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja
cmake --build build -j "$(nproc)" --target agendaiva
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
fi
exec build/app/agendaiva "$@"
