#!/usr/bin/env bash
# Lints the manual pages, builds the Debian package, unpacks it into a
# scratch root and checks what Debian asks of it: both programs (stripped,
# starting), compressed manual pages, bash completion for both programs,
# the copyright file in the
# machine-readable format with the licence of LICENSE, a changelog for the
# package's version, the README, owners and permissions, section and
# priority. Runs lintian when it is installed and fails on its errors.
#   package_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1 build_dir=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
doc=usr/share/doc/stereotools

for page in stereorip stereoknit; do
    warnings=$(LC_ALL=C.UTF-8 groff -man -ww -z -Tutf8 "$source_dir/doc/$page.1" 2>&1)
    [ -z "$warnings" ] || fail "$page.1 has warnings: $warnings"
    # Whole outputs are read before matching: grep -q in a pipe would end the
    # writer early and pipefail would count its SIGPIPE as a failure.
    rendered=$(man -l "$source_dir/doc/$page.1" 2>/dev/null)
    grep -q "EXIT STATUS" <<<"$rendered" || fail "$page.1 does not render"
done

(cd "$build_dir" && cpack -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1) \
    || { cat "$scratch/cpack.log"; echo "FAIL: cpack" >&2; exit 1; }
deb=$(ls "$scratch"/out/*.deb)
info=$(dpkg-deb --info "$deb")
grep -q "Depends:.*libncursesw6" <<<"$info" || fail "package does not depend on libncursesw6"
[ "$(dpkg-deb -f "$deb" Section)" = sound ] || fail "section is not sound"
[ "$(dpkg-deb -f "$deb" Priority)" = optional ] || fail "priority is not optional"
version=$(dpkg-deb -f "$deb" Version)
dpkg -x "$deb" "$scratch/root"
root=$scratch/root

# Owners and modes as Debian wants them: root only, directories and
# programs 0755, every other file 0644.
while read -r mode owner _ _ _ path; do
    path=${path#./}
    case "$mode" in
        d*) expected=drwxr-xr-x ;;
        -*) [[ "$path" == usr/bin/* ]] && expected=-rwxr-xr-x || expected=-rw-r--r-- ;;
        *) expected="a plain file or directory" ;;
    esac
    [ "$mode" = "$expected" ] || fail "/$path has mode $mode, expected $expected"
    [ "$owner" = root/root ] || fail "/$path is owned by $owner"
done < <(dpkg-deb -c "$deb")

for program in stereorip stereoknit; do
    [ -x "$root/usr/bin/$program" ] || { fail "no /usr/bin/$program"; continue; }
    [[ "$(file -b "$root/usr/bin/$program")" == *", stripped"* ]] || fail "/usr/bin/$program is not stripped"
    gzip -t "$root/usr/share/man/man1/$program.1.gz" 2>/dev/null || fail "no compressed manual page for $program"
    # Without a terminal the program must start and refuse cleanly with status 2.
    status=0
    "$root/usr/bin/$program" </dev/null >/dev/null 2>"$scratch/err" || status=$?
    [ "$status" -eq 2 ] || fail "$program exited $status without a terminal, expected 2"
    grep -q "terminal" "$scratch/err" || fail "$program did not say it needs a terminal"
    # With file names it runs from the command line, no terminal needed.
    "$root/usr/bin/$program" --version </dev/null >"$scratch/version" 2>&1 || fail "$program --version failed"
    grep -q "^$program (stereotools) $version\$" "$scratch/version" || fail "$program --version does not say $version"
    completion=$root/usr/share/bash-completion/completions/$program
    if [ -f "$completion" ]; then
        bash -n "$completion" || fail "bash completion for $program does not parse"
        grep -q "complete -F [_a-z]* .*\b$program\b" "$completion" || fail "bash completion does not complete $program"
    else
        fail "no bash completion for $program"
    fi
done

# The copyright file: machine-readable, naming the holder and carrying the
# licence text of LICENSE word for word.
copyright=$root/$doc/copyright
if [ -f "$copyright" ]; then
    [ "$(head -n1 "$copyright")" = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ] \
        || fail "copyright file is not in the machine-readable format"
    grep -qx "Files: \*" "$copyright" || fail "copyright file has no Files: * paragraph"
    holder=$(sed -n 's/^Copyright (c) //p' "$source_dir/LICENSE")
    [ -n "$holder" ] || fail "LICENSE names no copyright holder"
    grep -qxF "Copyright: $holder" "$copyright" || fail "copyright file does not name '$holder'"
    [ "$(grep -c "^License: Expat$" "$copyright")" -eq 2 ] || fail "copyright file does not name and hold the Expat licence"
    sed -n '/^Permission is hereby granted/,$p' "$source_dir/LICENSE" >"$scratch/licence.want"
    sed -n '/^ Permission is hereby granted/,$p' "$copyright" | sed 's/^ \.$//; s/^ //' >"$scratch/licence.got"
    [ -s "$scratch/licence.want" ] && cmp -s "$scratch/licence.want" "$scratch/licence.got" \
        || fail "licence text in the copyright file differs from LICENSE"
else
    fail "no /$doc/copyright"
fi

# A native package's changelog: changelog.gz, best compression, whose latest
# entry is this version.
if gzip -dc "$root/$doc/changelog.gz" >"$scratch/changelog" 2>/dev/null; then
    changelog_version=$(dpkg-parsechangelog -l "$scratch/changelog" -S Version 2>&1) \
        || fail "changelog does not parse: $changelog_version"
    [ "$changelog_version" = "$version" ] || fail "changelog is for version '$changelog_version', package is $version"
    # Byte 8 of a gzip header is 2 for the best compression (-9).
    [ "$(od -An -tu1 -j8 -N1 "$root/$doc/changelog.gz" | tr -d ' ')" = 2 ] || fail "changelog.gz is not compressed with -9"
else
    fail "no compressed /$doc/changelog.gz"
fi
gzip -dc "$root/$doc/README.md.gz" 2>/dev/null | cmp -s - "$source_dir/README.md" || fail "no /$doc/README.md.gz matching README.md"

if command -v lintian >/dev/null; then
    # lintian's note about running as root is not about the package.
    lintian_status=0
    lintian --fail-on error "$deb" >"$scratch/lintian" 2>&1 || lintian_status=$?
    grep -v "running with root privileges" "$scratch/lintian" || true
    [ "$lintian_status" -eq 0 ] || fail "lintian reports errors (status $lintian_status)"
else
    echo "lintian is not installed: the package is not linted"
fi

[ "$failures" -eq 0 ] || { echo "$failures failed" >&2; exit 1; }
echo "package checks passed"
