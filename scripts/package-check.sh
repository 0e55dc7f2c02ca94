#!/usr/bin/env bash
# The toolkit as a host receives it. From a built tree: install into a
# temporary prefix; compile each installed header alone against it; build the
# examples out of tree with find_package(Skarn), then with pkg-config, and run
# the client against the server from each; check that the installed library
# finds its message catalogue; make the Debian package, install it, run
# `skarn --version` and the catalogue check against it, and remove it.
#   scripts/package-check.sh [BUILD_DIR]     (default: build, already built)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
SUDO=
installed=0
cleanup() {
    [ "$installed" = 1 ] && $SUDO dpkg -P skarn >/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
prefix=$work/prefix

echo "== install into a temporary prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
(cd "$prefix" && find . ! -path './include/*' ! -type d | sort)
echo "   and $(find "$prefix/include" -name '*.h' | wc -l) headers under include/skarn"

echo "== each installed header compiles alone"
for h in $(cd "$prefix/include" && find skarn -name '*.h' | sort); do
    printf '#include <%s>\n' "$h" | (cd "$work" && g++ -std=c++17 -Wall -Wextra -Werror -fsyntax-only \
        -I"$prefix/include" -x c++ -) || { echo "$h does not compile alone" >&2; exit 1; }
done

# Message 1841392216 of the catalogue, raised when a connection is refused: its
# text shows that the library found share/skarn without SKARN_HOME.
catalogue_check() {
    local client=$1 out
    printf 'x' >"$work/one"
    if out=$(env -u SKARN_HOME "$client" http://127.0.0.1:1/none "$work/one" 2>&1); then
        echo "the client reached a server on port 1" >&2
        return 1
    fi
    grep -q "A socket operation failed" <<<"$out" || { echo "no catalogue text in: $out" >&2; return 1; }
    echo "catalogue found: $(grep -m1 "A socket operation failed" <<<"$out")"
}

echo "== examples built with find_package(Skarn)"
cmake -S examples -B "$work/with-cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/with-cmake" -j 2 >/dev/null
ldd "$work/with-cmake/minimal_client" | grep -q "$prefix/.*libskarn.so.0" ||
    { echo "the example does not load the installed library" >&2; exit 1; }
bash examples/run-pair.sh "$work/with-cmake"
catalogue_check "$work/with-cmake/minimal_client"

echo "== examples built with pkg-config"
pcdir=$(dirname "$(find "$prefix" -name skarn.pc)")
mkdir "$work/with-pc"
for example in minimal_client minimal_server; do
    # shellcheck disable=SC2046
    g++ -std=c++17 -Wall -Wextra -Werror -o "$work/with-pc/$example" "examples/$example.cpp" \
        $(PKG_CONFIG_PATH=$pcdir pkg-config --cflags --libs skarn) \
        -Wl,-rpath,"$(PKG_CONFIG_PATH=$pcdir pkg-config --variable=libdir skarn)"
done
bash examples/run-pair.sh "$work/with-pc"

if [ -x "$prefix/bin/skarn" ]; then
    echo "== the installed tool"
    "$prefix/bin/skarn" --version
else
    echo "== no skarn tool in this tree: its installed run is skipped"
fi

echo "== Debian package"
(cd "$build" && cpack -G DEB -B "$work/deb" >/dev/null)
deb=$(ls "$work"/deb/skarn_*.deb)
dpkg-deb --field "$deb" Package Version Depends
if [ "$(id -u)" -ne 0 ]; then
    if sudo -n true 2>/dev/null; then
        SUDO=sudo
    else
        echo "== not root and no sudo: the package is made but not installed"
        exit 0
    fi
fi
if dpkg-query -W -f='${Status}' skarn 2>/dev/null | grep -q 'install ok installed'; then
    echo "== a skarn package is already installed here: the install step is skipped"
    exit 0
fi
$SUDO dpkg -i "$deb" >/dev/null
installed=1
if [ -x /usr/bin/skarn ]; then
    env -u SKARN_HOME /usr/bin/skarn --version
else
    echo "no skarn tool in the package: its run is skipped"
fi
# A host built against the package alone (system include and library paths).
# shellcheck disable=SC2046
g++ -std=c++17 -Wall -Wextra -Werror -o "$work/packaged_client" examples/minimal_client.cpp \
    $(pkg-config --cflags --libs skarn)
catalogue_check "$work/packaged_client"
$SUDO dpkg -P skarn >/dev/null
installed=0
echo "== package installed, used and removed"
