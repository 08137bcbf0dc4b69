#!/usr/bin/env bash
# Installs what is missing, builds, prepares the demo data (first use) and runs the program on it:
# the upload window when there is a display, otherwise the same upload headless with its report
# written as PDF.
set -euo pipefail
cd "$(dirname "$0")"
root=$PWD

./scripts/install-deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# Ninja's lines only when there is something to build.
cmake --build build --parallel "$(nproc)" --target retratix make_demo_data |
    { grep -v -e '^ninja: no work to do' -e 'Re-checking globbed directories' || true; }

# Qt wants a private runtime folder; a login session has one, a bare shell may not.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    export XDG_RUNTIME_DIR=$root/build/runtime
    mkdir -p -m 700 "$XDG_RUNTIME_DIR"
fi

# Database, photo folder, report folder and Polidex.ini beside the program; kept once made, and
# made again once an upload has stored the demo photos.
demo=$root/build/demo
build/bin/make_demo_data --program-folder "$root/build/bin" --demo "$demo" --source "$root"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    pdf=$demo/InformeFotos.pdf
    rm -f "$pdf"
    echo "No display: uploading $demo/fotos headless."
    status=0
    build/bin/retratix --upload "$demo/fotos" --pdf "$pdf" || status=$?
    if [ -f "$pdf" ]; then
        echo "The run's report \"Informe Fotos\" is in $pdf"
    fi
    echo "Left in the folder: $(ls -A "$demo/fotos" | tr '\n' ' ')"
    exit "$status"
fi

# The folder list starts in the working folder: the demo photos.
cd "$demo/fotos"
exec "$root/build/bin/retratix"
