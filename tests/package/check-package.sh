#!/usr/bin/env bash
# The built Debian package: lintian finds no errors, and every program in it answers --version
# with "NAME VERSION" and --help with a usage on standard output, and has a man page made from
# that (help2man puts the --version line in the page's header).
#   check-package.sh BUILDDIR VERSION
set -euo pipefail
build=$1 version=$2
debs=("$build"/tallyview_"$version"_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "no single package in $build" >&2; exit 1; }
deb=${debs[0]}

lintian --fail-on error "$deb"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
status=0
fail() { echo "$*" >&2; status=1; }
for program in "$root"/usr/bin/*; do
    name=$(basename "$program")
    [ "$("$program" --version)" = "$name $version" ] || fail "$name --version: wrong answer"
    "$program" --help | head -1 | grep -q "^Usage: $name " || fail "$name --help: no usage"
    page=$root/usr/share/man/man1/$name.1.gz
    zcat "$page" | grep -q "^\.TH .* \"$name $version\"" || fail "$name: no man page of $version"
done
exit $status
