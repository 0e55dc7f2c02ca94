#!/usr/bin/env bash
# Deliberate faults against the test suite: each patch of scripts/mutants/ is
# applied in turn to a scratch copy of the tree, the toolkit and its tests are
# built and the suite runs; the tests that fail are the ones that catch the
# fault. Every fault must be caught. Not run by CI: it takes a while.
#
# usage: scripts/mutants.sh [--tree DIR] [--only REGEX] [--tests REGEX] [--first-from TABLE] [--list]
#   --tree DIR    the source tree to test (default: this script's tree; never modified)
#   --only REGEX  only the faults whose id matches
#   --tests REGEX only the tests whose ctest name matches (a quicker, stricter run)
#   --first-from TABLE  a table this script wrote (scripts/mutants/CAUGHT.txt): each fault
#                 runs first the tests that caught it there, and the whole suite only
#                 when none of them fails (a quicker run with the same verdicts)
#   --list        print the faults and stop
# Environment:
#   SKARN_MUTANT_BUILD    build command, called with the build dir (default: cmake --build DIR -j2)
#   SKARN_MUTANT_TIMEOUT  seconds per test (default 60)
#   SKARN_MUTANT_SKIP     regex of tests left out of every run (ones the unchanged tree fails)
#   SKARN_MUTANT_SCRATCH  parent of the scratch copy (default: a new temporary dir)
#   SKARN_MUTANT_KEEP=1   keep the scratch sources and build afterwards
# Output: one line per fault; the full table goes to SCRATCH/mutants.txt.
# Exit status: 0 when every fault is caught, 1 when one is missed or does not
# apply or build (a fault that does not build is not a valid fault: fix it).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
faults=$here/mutants
tree=$(dirname "$here")
only=.
tests_only=
first_from=
list=0
while [ $# -gt 0 ]; do
    case $1 in
    --tree) tree=$(cd "$2" && pwd); shift 2 ;;
    --only) only=$2; shift 2 ;;
    --tests) tests_only=$2; shift 2 ;;
    --list) list=1; shift ;;
    --first-from) first_from=$2; shift 2 ;;
    *) sed -n '7,14p' "$0" >&2; exit 2 ;;
    esac
done

# id, changed file and description of a patch.
describe() {
    local p=$1
    id=$(basename "$p" .patch)
    file=$(sed -n 's|^+++ b/||p' "$p" | head -1)
    desc=$(sed -n '1s/^Fault: //p' "$p")
}

patches=()
for p in "$faults"/*.patch; do
    [[ $(basename "$p" .patch) =~ $only ]] && patches+=("$p")
done
if [ "$list" = 1 ]; then
    for p in "${patches[@]}"; do
        describe "$p"
        printf '%-22s %-44s %s\n' "$id" "$file" "$desc"
    done
    exit 0
fi

scratch=$(mktemp -d "${SKARN_MUTANT_SCRATCH:-${TMPDIR:-/tmp}}/skarn-mutants.XXXXXX")
src=$scratch/src
bld=$scratch/build
table=$scratch/mutants.txt
cleanup() { [ "${SKARN_MUTANT_KEEP:-0}" = 1 ] || rm -rf "$src" "$bld"; }
trap cleanup EXIT

build() {
    if [ -n "${SKARN_MUTANT_BUILD:-}" ]; then
        $SKARN_MUTANT_BUILD "$bld"
    else
        cmake --build "$bld" -j2
    fi
}

# Runs the suite, or the tests matching $1; prints the names of the failed tests, one a line.
failed_tests() {
    rm -f "$bld/Testing/Temporary/LastTestsFailed.log"
    local skip=() only=${1:-$tests_only}
    [ -n "${SKARN_MUTANT_SKIP:-}" ] && skip=(-E "$SKARN_MUTANT_SKIP")
    [ -n "$only" ] && skip+=(-R "$only")
    ctest --test-dir "$bld" -j2 --timeout "${SKARN_MUTANT_TIMEOUT:-60}" "${skip[@]}" >"$scratch/ctest.log" 2>&1 || true
    [ -f "$bld/Testing/Temporary/LastTestsFailed.log" ] && cut -d: -f2- "$bld/Testing/Temporary/LastTestsFailed.log"
    return 0
}

# A regex of the tests that caught fault $1 in the --first-from table; one that
# matches nothing when the table has none (test names hold a "." or a "_").
catchers() {
    awk -F'\t' -v id="$1" '$1 == id { print $6 }' "$first_from" | tr ' ' '\n' | grep -E '[._]' | grep -v '^GetParam' |
        sed 's/[][\.*^$()+?{}|]/\\&/g; s/^/^/' | paste -sd'|' | grep . || echo '^$no tests'
}

echo "scratch copy of $tree in $scratch"
mkdir -p "$src"
tar -C "$tree" --exclude=./.git --exclude='./build*' -cf - . | tar -C "$src" -xf -
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# Programs are not relinked when only the library changes: they load it at run time.
cmake -S "$src" -B "$bld" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSKARN_BUILD_BENCH=OFF -DCMAKE_LINK_DEPENDS_NO_SHARED=ON "${launcher[@]}" >"$scratch/configure.log"
build >"$scratch/build.log" 2>&1 || { echo "the unchanged tree does not build: $scratch/build.log" >&2; exit 1; }
# The unchanged tree must pass: a test failing here would count as a catch below.
broken=$(failed_tests)
if [ -n "$broken" ]; then
    echo "the unchanged tree fails tests:" $broken >&2
    exit 1
fi

printf '%s\t%s\t%s\t%s\t%s\t%s\n' id result seconds file description "catching tests" >"$table"
bad=0
caught=0
for p in "${patches[@]}"; do
    describe "$p"
    start=$SECONDS
    tests=""
    if ! patch -d "$src" -p1 --dry-run --silent <"$p" >/dev/null 2>&1; then
        result=NOAPPLY
    else
        patch -d "$src" -p1 --silent <"$p"
        if ! build >"$scratch/build-$id.log" 2>&1; then
            result=NOBUILD
        else
            [ -n "$first_from" ] && tests=$(failed_tests "$(catchers "$id")" | tr '\n' ' ')
            [ -z "$tests" ] && tests=$(failed_tests | tr '\n' ' ')
            if [ -n "$tests" ]; then result=CAUGHT; else result=MISSED; fi
        fi
        patch -d "$src" -p1 -R --silent <"$p"
    fi
    secs=$((SECONDS - start))
    [ "$result" = CAUGHT ] && caught=$((caught + 1)) || bad=$((bad + 1))
    printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$id" "$result" "$secs" "$file" "$desc" "$tests" >>"$table"
    read -ra all <<<"$tests"
    first="${all[*]:0:3}"
    [ ${#all[@]} -gt 3 ] && first="$first (+$((${#all[@]} - 3)))"
    printf '%-22s %-7s %4ss %-42s %s  [%s]\n' "$id" "$result" "$secs" "$file" "$desc" "$first"
done
echo "$caught of ${#patches[@]} faults caught; table: $table"
[ "$bad" = 0 ]
