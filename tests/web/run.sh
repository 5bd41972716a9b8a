#!/usr/bin/env bash
# Builds the web page with Emscripten, then runs web_test.mjs in Chromium,
# Firefox ESR and WebKitGTK (under xvfb-run) against the native programs; where QUARNEL_WEB_PAGE names a page built
# already (in CI, the release's), that page is tested instead. Exits 77, which
# ctest counts as skipped, saying what is missing where a tool is not
# installed; with QUARNEL_WEB_TESTS=required (as in CI) a missing tool fails
# the test instead.
# Usage: tests/web/run.sh <quarnel> <quarnel-inspect> <build directory for the page> <quarnel-pack>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
chromium=${CHROMIUM:-/usr/bin/chromium}
firefox=${FIREFOX:-/usr/bin/firefox-esr}
webkit=${WEBKIT_DRIVER:-/usr/bin/WebKitWebDriver}

skip() {
    echo "SKIPPED, the web page is not tested: $*"
    [ "${QUARNEL_WEB_TESTS:-}" != required ] || exit 1
    exit 77
}
[ -n "${QUARNEL_WEB_PAGE:-}" ] || command -v emcc >/dev/null ||
    skip "emcc not found (apt-get install emscripten node-acorn)"
[ -x "$chromium" ] || skip "no Chromium at $chromium (apt-get install chromium)"
[ -x "$firefox" ] || skip "no Firefox ESR at $firefox (apt-get install firefox-esr)"
[ -x "$webkit" ] || skip "no WebKitWebDriver at $webkit (apt-get install webkit2gtk-driver)"
command -v xvfb-run >/dev/null || skip "xvfb-run not found (apt-get install xvfb)"
command -v node >/dev/null || skip "node not found (apt-get install nodejs npm)"
command -v xorriso >/dev/null || skip "xorriso not found (apt-get install xorriso)"
[ -d "$here/node_modules/puppeteer-core" ] && [ -d "$here/node_modules/axe-core" ] || skip "the test driver is not installed (npm ci --prefix tests/web)"

page=${QUARNEL_WEB_PAGE:-}
log=$3.log
if [ -z "$page" ]; then
    page=$3/web/page
    if ! { cmake -S "$source_dir" -B "$3" --toolchain "$source_dir/cmake/emscripten.cmake" -DCMAKE_BUILD_TYPE=Release \
        -DQUARNEL_BUILD_TESTS=OFF -DQUARNEL_BUILD_BENCHMARKS=OFF && cmake --build "$3" -j2; } >"$log" 2>&1; then
        cat "$log"
        echo "the web page did not build" >&2
        exit 1
    fi
fi
export CHROMIUM=$chromium FIREFOX=$firefox WEBKIT_DRIVER=$webkit
exec xvfb-run -a node "$here/web_test.mjs" "$page" "$1" "$2" "$source_dir/samples" "$4"
