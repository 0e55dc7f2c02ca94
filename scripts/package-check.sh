#!/usr/bin/env bash
# The toolkit as a host receives it. From a built tree:
#  1. A temporary prefix (not a system folder): `cmake --install` into it;
#     compile each installed header alone; build the examples out of tree with
#     find_package(Skarn) and run the client against the server, from their
#     build folder and installed with the README's CMake lines; build them with
#     the README's pkg-config command line and run them; show that without its
#     rpath such a program does not start; check that the installed library
#     finds its message catalogue.
#  2. The Debian packages libskarn0, libskarn-dev and skarn (cpack): their
#     fields, their files (copyright in each, the man page), and that the
#     Depends fields name what the files need.
#  3. A clean root: instead of a throw-away container (none on the CI machine,
#     and no network beyond Debian's archive), the three packages are unpacked
#     with `dpkg-deb -x` into an empty folder, and a host is built against that
#     folder alone plus the system files of the packages libskarn-dev depends on:
#     PKG_CONFIG_LIBDIR is a folder holding only the .pc files of those packages
#     (and of what they depend on) and the root's; CMAKE_PREFIX_PATH is the
#     root, with the package registries off. What a container would guarantee
#     besides, that no other installed package is used, is checked instead:
#     every header the compiler reads (g++ -M), the Xerces-C files CMake finds,
#     and every library libskarn.so.0 and skarn load (ELF NEEDED) is traced to
#     its owner (dpkg -S); an owner that is neither the root, the compiler's own
#     packages nor a declared dependency fails the check. The examples built
#     there (pkg-config and CMake) run against each other.
#  4. dpkg installs the three packages; `skarn --version`, a host built with
#     plain pkg-config and the catalogue check run against them; dpkg removes them.
#   scripts/package-check.sh [BUILD_DIR]     (default: build, already built)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
SUDO=
installed=()
cleanup() {
    [ ${#installed[@]} -gt 0 ] && $SUDO dpkg -P "${installed[@]}" >/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "package-check: $*" >&2; exit 1; }
prefix=$work/prefix

echo "== install into a temporary prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
(cd "$prefix" && find . ! -path './include/*' ! -type d | sort)
echo "   and $(find "$prefix/include" -name '*.h' | wc -l) headers under include/skarn"

echo "== each installed header compiles alone"
for h in $(cd "$prefix/include" && find skarn -name '*.h' | sort); do
    printf '#include <%s>\n' "$h" | (cd "$work" && g++ -std=c++17 -Wall -Wextra -Werror -fsyntax-only \
        -I"$prefix/include" -x c++ -) || fail "$h does not compile alone"
done

# Message 1841392216 of the catalogue, raised when a connection is refused: its
# text shows that the library found share/skarn without SKARN_HOME. The port is
# one the system just handed out and that was closed again (a fixed low port
# may be in use on a shared machine).
catalogue_check() {
    local client=$1 out port
    printf 'x' >"$work/one"
    port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    if out=$(env -u SKARN_HOME "$client" "http://127.0.0.1:$port/none" "$work/one" 2>&1); then
        echo "the client reached a server on port $port" >&2
        return 1
    fi
    grep -q "A socket operation failed" <<<"$out" || { echo "no catalogue text in: $out" >&2; return 1; }
    echo "catalogue found: $(grep -m1 "A socket operation failed" <<<"$out")"
}

# Where a program's libskarn.so.0 comes from (the path, without "..", of the
# file the loader finds).
loaded_from() {
    local path
    path=$(env -u LD_LIBRARY_PATH ldd "$1" | awk '$1 == "libskarn.so.0" {print $3}')
    [ -z "$path" ] || [ "$path" = not ] || realpath -s "$path"
}

# The README's lines, so that what it shows is what is checked here.
# CMake: each line of its cmake block, my_host being an example, is in
# examples/CMakeLists.txt (which builds and installs the examples below).
readme_cmake=$(sed -n '/^```cmake$/,/^```$/p' README.md | grep -v -e '^```' -e '^ *#' -e '^ *$')
[ -n "$readme_cmake" ] || fail "no cmake block in README.md"
while IFS= read -r line; do
    # shellcheck disable=SC2016
    grep -qF "${line//my_host/\${example\}}" examples/CMakeLists.txt ||
        fail "README's \"$line\" is not what examples/CMakeLists.txt does"
done <<<"$readme_cmake"
# pkg-config: the command line, host.cpp and host being an example's source and program.
readme_pc=$(grep -m1 -E '^    g\+\+ .*pkg-config' README.md | sed 's/^ *//')
[ -n "$readme_pc" ] || fail "no g++ ... pkg-config line in README.md"
grep -q -- '-o host$' <<<"$readme_pc" || fail "README's pkg-config line does not end with -o host"
readme_pc_build() {   # SOURCE OUTPUT: the README's line for one example, in the current environment
    local line=${readme_pc//host.cpp/$1}
    eval "${line%-o host}-o \"\$2\""
}

echo "== examples built with find_package(Skarn), as README.md shows"
cmake -S examples -B "$work/with-cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/with-cmake" -j 2 >/dev/null
[ "$(loaded_from "$work/with-cmake/minimal_client")" = "$prefix/lib/libskarn.so.0" ] ||
    fail "the example does not load the installed library"
bash examples/run-pair.sh "$work/with-cmake"
catalogue_check "$work/with-cmake/minimal_client"
echo "== the same examples installed (INSTALL_RPATH_USE_LINK_PATH), run without LD_LIBRARY_PATH"
cmake --install "$work/with-cmake" --prefix "$work/hosts" >/dev/null
env -u LD_LIBRARY_PATH bash examples/run-pair.sh "$work/hosts/bin"

echo "== examples built with README's pkg-config line: $readme_pc"
pcdir=$(dirname "$(find "$prefix" -name skarn.pc)")
mkdir "$work/with-pc"
for example in minimal_client minimal_server; do
    PKG_CONFIG_PATH=$pcdir readme_pc_build "examples/$example.cpp" "$work/with-pc/$example"
done
env -u LD_LIBRARY_PATH bash examples/run-pair.sh "$work/with-pc"
# The reason for the rpath: without it, a prefix outside the loader's folders
# is not searched (unless the system already has a libskarn.so.0).
if ldconfig -p | grep 'libskarn\.so\.0 ' >/dev/null; then
    echo "== this system has a libskarn.so.0 of its own: the run without rpath is skipped"
else
    # shellcheck disable=SC2046
    g++ -std=c++17 examples/minimal_client.cpp $(PKG_CONFIG_PATH=$pcdir pkg-config --cflags --libs skarn) \
        -o "$work/no-rpath"
    if out=$(env -u LD_LIBRARY_PATH "$work/no-rpath" 2>&1); then
        fail "a client without rpath started: $out"
    fi
    grep -q 'libskarn.so.0' <<<"$out" || fail "a client without rpath failed otherwise: $out"
    echo "== without the rpath: $out"
fi

if [ -x "$prefix/bin/skarn" ]; then
    echo "== the installed tool"
    "$prefix/bin/skarn" --version
else
    echo "== no skarn tool in this tree: its installed run is skipped"
fi

echo "== Debian packages"
(cd "$build" && cpack -G DEB -B "$work/deb" >/dev/null)
deb_of() { ls "$work"/deb/"$1"_*.deb 2>/dev/null || fail "no $1 package made"; }
runtime=$(deb_of libskarn0)
dev=$(deb_of libskarn-dev)
tool=
[ -x "$build/bin/skarn" ] && tool=$(deb_of skarn)
debs=("$runtime" "$dev" ${tool:+"$tool"})
version=$(dpkg-deb -f "$runtime" Version)
for deb in "${debs[@]}"; do
    echo "-- $(basename "$deb")"
    dpkg-deb -f "$deb" Package Version Section Depends | sed 's/^/   /'
    pkg=$(dpkg-deb -f "$deb" Package)
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$pkg has another version than libskarn0"
    dpkg-deb -c "$deb" | grep " \./usr/share/doc/$pkg/copyright$" >/dev/null || fail "$pkg has no usr/share/doc/$pkg/copyright"
done
contents() { dpkg-deb -c "$1" | awk '{print $6}' | sed 's|^\./|/|'; }
contents "$runtime" | grep -x '/usr/lib/libskarn.so.0.*' >/dev/null || fail "libskarn0 has no libskarn.so.0"
contents "$runtime" | grep -x '/usr/share/skarn/vexsktmsgs' >/dev/null || fail "libskarn0 has no message catalogue"
[ "$(dpkg-deb -I "$runtime" shlibs)" = "libskarn 0 libskarn0 (= $version)" ] || fail "libskarn0 has no shlibs entry"
dpkg-deb -I "$runtime" postinst | grep -x '[[:space:]]*ldconfig' >/dev/null || fail "libskarn0 does not run ldconfig"
contents "$runtime" | grep -e '/include/' -e 'libskarn\.so$' >/dev/null && fail "libskarn0 holds development files"
for f in /usr/lib/libskarn.so /usr/lib/pkgconfig/skarn.pc /usr/lib/cmake/Skarn/SkarnConfig.cmake \
         /usr/include/skarn/skarn.h /usr/include/skarn/api/Skarn.h; do
    contents "$dev" | grep -x "$f" >/dev/null || fail "libskarn-dev has no $f"
done
if [ -n "$tool" ]; then
    contents "$tool" | grep -x /usr/bin/skarn >/dev/null || fail "the skarn package has no /usr/bin/skarn"
    contents "$tool" | grep -x /usr/share/man/man1/skarn.1.gz >/dev/null || fail "the skarn package has no man page"
    dpkg-deb --fsys-tarfile "$tool" | tar -xO ./usr/share/man/man1/skarn.1.gz | gzip -dc >"$work/skarn.1"
    grep -q '^\.TH SKARN "1"' "$work/skarn.1" || fail "skarn.1.gz is no man page"
    grep -q 'serve' "$work/skarn.1" || fail "the man page does not describe skarn serve"
    # shellcheck disable=SC2046
    echo "-- skarn.1.gz: $(grep -c '' "$work/skarn.1") lines, sections:" $(grep '^\.SH' "$work/skarn.1" | cut -d' ' -f2- | tr -d '"')
fi

# The names in a Depends field, without versions, alternatives flattened.
dep_names() { tr ',|' '\n\n' <<<"$1" | sed 's/(.*)//; s/:.*//; s/[[:space:]]//g' | grep -v '^$' || true; }
# Installed packages reached from the given ones through Depends and Pre-Depends.
closure() {
    local -A seen=()
    local todo=("$@") p
    while [ ${#todo[@]} -gt 0 ]; do
        p=${todo[0]}
        todo=("${todo[@]:1}")
        [ -n "${seen[$p]:-}" ] && continue
        seen[$p]=1
        local d
        d=$(dpkg-query -W -f='${Depends}, ${Pre-Depends}' "$p" 2>/dev/null) || continue
        # shellcheck disable=SC2207
        todo+=($(dep_names "$d"))
    done
    printf '%s\n' "${!seen[@]}" | sort
}
# The package that owns a file (merged /usr: dpkg may know it under /lib).
owner() {
    local f=$1 c o
    for c in "$f" "$(realpath -s "$f")" "$(realpath "$f")" "${f#/usr}" "/usr$f"; do
        if o=$(dpkg -S "$c" 2>/dev/null); then
            o=$(grep -v -m1 '^diversion' <<<"$o")
            o=${o%%: *}
            o=${o%%, *}
            echo "${o%%:*}"
            return
        fi
    done
    echo "?"
}
# Lines "FILE PACKAGE" for the given files: one dpkg -S for all, owner() for the rest.
owners() {
    local -A own=()
    local files=() f line o
    for f; do files+=("$(realpath -s "$f")"); done
    [ ${#files[@]} -gt 0 ] || return 0
    while IFS= read -r line; do
        [[ $line == diversion* ]] && continue
        o=${line%%: *}
        o=${o%%, *}
        own[${line#*: }]=${o%%:*}
    done < <(dpkg -S "${files[@]}" 2>/dev/null || true)
    for f in "${files[@]}"; do
        [ -n "${own[$f]:-}" ] || own[$f]=$(owner "$f")
        echo "$f ${own[$f]}"
    done
}

echo "== the Depends fields name what the files need"
dev_deps=$(dep_names "$(dpkg-deb -f "$dev" Depends)")
for needed in libxerces-c-dev libssl-dev; do
    grep -qx "$needed" <<<"$dev_deps" || fail "libskarn-dev does not depend on $needed"
done
dpkg-deb -f "$dev" Depends | grep -F "libskarn0 (= $version)" >/dev/null || fail "libskarn-dev does not depend on libskarn0 (= $version)"
[ -z "$tool" ] || dpkg-deb -f "$tool" Depends | grep -F "libskarn0 (= $version)" >/dev/null ||
    fail "skarn does not depend on libskarn0 (= $version)"
echo "   libskarn-dev: libskarn0 (= $version), libxerces-c-dev, libssl-dev"

echo "== a clean root: the packages unpacked alone into $work/root"
root=$work/root
mkdir "$root"
for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$root"; done
# shellcheck disable=SC2046
declared=$(closure $(grep -vx libskarn0 <<<"$dev_deps"))
toolchain=$(closure g++)
# What a build in the root may read besides the root: the compiler's packages
# and the declared dependencies of libskarn-dev (with what they depend on).
provenance() {   # WHAT FILE...
    local what=$1 f o bad=0
    shift
    local outside=()
    for f in "$@"; do
        case $f in "$root"/*) ;; *) outside+=("$f") ;; esac
    done
    while read -r f o; do
        if ! grep -qx "$o" <<<"$declared"$'\n'"$toolchain"; then
            echo "$what reads $f, from package $o, which libskarn-dev does not depend on" >&2
            bad=1
        fi
    done < <(owners "${outside[@]}")
    return $bad
}
pcroot=$work/pkgconfig
mkdir "$pcroot"
for p in $declared; do
    for pc in $(dpkg -L "$p" 2>/dev/null | grep '/pkgconfig/.*\.pc$' || true); do
        [ ! -f "$pc" ] || ln -sf "$pc" "$pcroot/"
    done
done
echo "   pkg-config sees: $(ls "$pcroot" | tr '\n' ' ')and the root's"
clean_env=(env -u PKG_CONFIG_PATH -u LD_LIBRARY_PATH -u CPATH -u CPLUS_INCLUDE_PATH -u LIBRARY_PATH
           PKG_CONFIG_LIBDIR="$root/usr/lib/pkgconfig:$pcroot")
[ "$(realpath -m "$("${clean_env[@]}" pkg-config --variable=libdir skarn)")" = "$root/usr/lib" ] ||
    fail "pkg-config found another skarn.pc than the root's"

echo "== in the clean root, every installed header's includes come from the root or a declared package"
(cd "$root/usr/include" && find skarn -name '*.h' | sort | sed 's/.*/#include <&>/') >"$work/all-headers.cpp"
# shellcheck disable=SC2046
deps=$("${clean_env[@]}" sh -c 'g++ -std=c++17 -M -MT x "$1" $(pkg-config --cflags skarn)' sh "$work/all-headers.cpp" |
       tr -d '\\' | tr ' ' '\n' | grep '^/' | grep -v "^$work/all-headers.cpp$")
# shellcheck disable=SC2086
provenance "the installed headers" $deps
# shellcheck disable=SC2046
echo "   $(wc -w <<<"$deps") files read: $(grep -c "^$root/" <<<"$deps") from the root, the others from:" \
    $(owners $(grep -v "^$root/" <<<"$deps") | awk '{print $2}' | sort -u)
# The same check without one declared dependency must fail, on the headers and on pkg-config.
for missing in libxerces-c-dev libssl-dev; do
    saved=$declared
    # shellcheck disable=SC2046
    declared=$(closure $(grep -vx -e libskarn0 -e "$missing" <<<"$dev_deps"))
    mkdir "$work/pc-$missing"
    for pc in "$pcroot"/*.pc; do
        dpkg -L "$missing" | grep -x "$(readlink "$pc")" >/dev/null || ln -s "$(readlink "$pc")" "$work/pc-$missing/"
    done
    caught=()
    # shellcheck disable=SC2086
    provenance "the installed headers" $deps 2>/dev/null || caught+=(headers)
    env PKG_CONFIG_LIBDIR="$root/usr/lib/pkgconfig:$work/pc-$missing" pkg-config --cflags skarn >/dev/null 2>&1 ||
        caught+=(pkg-config)
    declared=$saved
    [ ${#caught[@]} -gt 0 ] || fail "without $missing in libskarn-dev's Depends, nothing fails"
    echo "   were $missing not declared, this fails: ${caught[*]}"
done

echo "== in the clean root, the libraries' NEEDED entries come from packages their Depends name"
needed_check() {   # ELF PACKAGE.deb
    local elf=$1 deb=$2 lib path o names
    names=$(dep_names "$(dpkg-deb -f "$deb" Depends)")
    for lib in $(readelf -d "$elf" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
        # "name => path (address)", or "path (address)" for the loader itself
        path=$(LD_LIBRARY_PATH=$root/usr/lib ldd "$elf" | awk -v l="$lib" '
            { n = $1; sub(".*/", "", n) }
            $2 == "=>" && $1 == l && !found { print $3; found = 1 }
            $2 != "=>" && n == l && !found { print $1; found = 1 }')
        [ -n "$path" ] && [ "$path" != "not" ] || fail "$(basename "$elf") needs $lib, which is not found"
        case $path in "$root"/*) o=$(dpkg-deb -f "$runtime" Package) ;; *) o=$(owner "$path") ;; esac
        grep -qx "$o" <<<"$names" ||
            fail "$(basename "$elf") needs $lib (package $o), which $(dpkg-deb -f "$deb" Package) does not depend on"
        printf '   %s: %s from %s\n' "$(basename "$elf")" "$lib" "$o"
    done
}
needed_check "$(readlink -f "$root/usr/lib/libskarn.so.0")" "$runtime"
[ -z "$tool" ] || needed_check "$root/usr/bin/skarn" "$tool"

echo "== in the clean root, the examples built with README's pkg-config line"
mkdir "$work/clean-pc"
for example in minimal_client minimal_server; do
    "${clean_env[@]}" bash -c "$(declare -f readme_pc_build); readme_pc=\$1; readme_pc_build \"\$2\" \"\$3\"" \
        sh "$readme_pc" "examples/$example.cpp" "$work/clean-pc/$example"
done
[ "$(loaded_from "$work/clean-pc/minimal_client")" = "$root/usr/lib/libskarn.so.0" ] ||
    fail "the client built in the clean root does not load the root's library"
env -u LD_LIBRARY_PATH bash examples/run-pair.sh "$work/clean-pc"
catalogue_check "$work/clean-pc/minimal_client"

echo "== in the clean root, the examples built with find_package(Skarn)"
"${clean_env[@]}" cmake -S examples -B "$work/clean-cmake" -DCMAKE_PREFIX_PATH="$root/usr" \
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF >/dev/null
grep -q "^Skarn_DIR:PATH=$root/usr/lib/cmake/Skarn$" "$work/clean-cmake/CMakeCache.txt" ||
    fail "CMake found another Skarn package than the root's"
# shellcheck disable=SC2046
provenance "find_package(Skarn)" $(sed -n 's/^XercesC_\(INCLUDE_DIR\|LIBRARY_RELEASE\):[A-Z]*=//p' \
    "$work/clean-cmake/CMakeCache.txt")
"${clean_env[@]}" cmake --build "$work/clean-cmake" -j 2 >/dev/null
env -u LD_LIBRARY_PATH bash examples/run-pair.sh "$work/clean-cmake"

if [ "$(id -u)" -ne 0 ]; then
    if sudo -n true 2>/dev/null; then
        SUDO=sudo
    else
        echo "== not root and no sudo: the packages are made but not installed"
        exit 0
    fi
fi
for p in libskarn0 libskarn-dev skarn; do
    if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep 'install ok installed' >/dev/null; then
        echo "== a $p package is already installed here: the install step is skipped"
        exit 0
    fi
done
echo "== dpkg -i the packages"
$SUDO dpkg -i "${debs[@]}" >/dev/null
installed=(libskarn-dev libskarn0)
[ -z "$tool" ] || installed=(skarn "${installed[@]}")
if [ -n "$tool" ]; then
    env -u SKARN_HOME /usr/bin/skarn --version
else
    echo "no skarn tool in this tree: its run is skipped"
fi
# A host built against the packages alone (system include and library paths, no rpath).
# shellcheck disable=SC2046
g++ -std=c++17 -Wall -Wextra -Werror -o "$work/packaged_client" examples/minimal_client.cpp \
    $(pkg-config --cflags --libs skarn)
loaded=$(loaded_from "$work/packaged_client")
[ "$(owner "$loaded")" = libskarn0 ] || fail "the packaged client loads $loaded, not libskarn0's library"
echo "the packaged client loads $loaded (libskarn0)"
catalogue_check "$work/packaged_client"
$SUDO dpkg -P "${installed[@]}" >/dev/null
installed=()
echo "== packages installed, used and removed"
