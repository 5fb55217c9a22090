#!/usr/bin/env bash
# Lints the manual pages, builds the Debian package, unpacks it into a
# scratch root and checks that both programs and both pages are there and
# that the programs start.
#   package_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1 build_dir=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

for page in stereorip stereoknit; do
    warnings=$(LC_ALL=C.UTF-8 groff -man -ww -z -Tutf8 "$source_dir/doc/$page.1" 2>&1)
    [ -z "$warnings" ] || fail "$page.1 has warnings: $warnings"
    # Whole outputs are read before matching: grep -q in a pipe would end the
    # writer early and pipefail would count its SIGPIPE as a failure.
    rendered=$(man -l "$source_dir/doc/$page.1" 2>/dev/null)
    grep -q "EXIT STATUS" <<<"$rendered" || fail "$page.1 does not render"
done

(cd "$build_dir" && cpack -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log"; fail "cpack"; }
deb=$(ls "$scratch"/out/*.deb)
info=$(dpkg-deb --info "$deb")
grep -q "Depends:.*libncursesw6" <<<"$info" || fail "package does not depend on libncursesw6"
dpkg -x "$deb" "$scratch/root"
for program in stereorip stereoknit; do
    [ -x "$scratch/root/usr/bin/$program" ] || fail "no /usr/bin/$program"
    [ -f "$scratch/root/usr/share/man/man1/$program.1" ] || [ -f "$scratch/root/usr/share/man/man1/$program.1.gz" ] \
        || fail "no manual page for $program"
    # Without a terminal the program must start and refuse cleanly with status 2.
    status=0
    "$scratch/root/usr/bin/$program" </dev/null >/dev/null 2>"$scratch/err" || status=$?
    [ "$status" -eq 2 ] || fail "$program exited $status without a terminal, expected 2"
    grep -q "terminal" "$scratch/err" || fail "$program did not say it needs a terminal"
done
echo "1 passed, 0 failed"
