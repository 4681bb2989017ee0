#!/bin/sh
# The Debian package cpack makes: its name, its control data with the dependencies,
# its files, its changelog, no maintainer scripts, and lintian's verdict (where lintian
# is installed). Skipped (77) where dpkg's tools are missing.
# Usage: check_package.sh BUILD_DIR [full|partial]  (partial: a build without every
# hardening flag, whose lintian notes about them are expected)
set -eu
build=$1
hardening=${2:-full}
if ! command -v dpkg-deb >/dev/null || ! command -v dpkg-shlibdeps >/dev/null; then
    echo "dpkg-deb or dpkg-shlibdeps not installed: skipped"
    exit 77
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp" >"$tmp/cpack.log" 2>&1 || {
    cat "$tmp/cpack.log" >&2
    fail "cpack failed"
}
version=$("$build/kestrove-news" --version | cut -d' ' -f2)
deb=$tmp/kestrove-news_${version}-1_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { ls "$tmp" >&2; fail "no $deb"; }
dpkg-deb --info "$deb"

depends=$(dpkg-deb --field "$deb" Depends)
for package in libqt6core6 libqt6gui6 libqt6widgets6 libqt6svg6 libsqlite3-0 xdg-utils fonts-liberation2 \
    fonts-noto-cjk; do
    echo ", $depends," | grep -Eq "[ ,]$package( \(|,)" || fail "Depends lacks $package: $depends"
done
[ "$(dpkg-deb --field "$deb" Package)" = kestrove-news ] || fail "package name"

# Only the control data: a package never touches home folders, so it has no scripts.
control=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | sed 's|^\./||' | grep -v '^$' | LC_ALL=C sort | tr '\n' ' ')
[ "$control" = "control md5sums " ] || fail "control archive holds $control"

dpkg-deb --contents "$deb" | awk '{ print $6 }' | grep -v '/$' | LC_ALL=C sort >"$tmp/files"
for file in ./usr/bin/kestrove-news ./usr/bin/kestrove-db ./usr/share/kestrove-news/list.db \
    ./usr/share/kestrove-news/starter-version \
    ./usr/share/applications/kestrove-news.desktop ./usr/share/metainfo/com.example.kestrove.news.metainfo.xml \
    ./usr/share/icons/hicolor/scalable/apps/kestrove-news.svg ./usr/share/icons/hicolor/48x48/apps/kestrove-news.png \
    ./usr/share/man/man1/kestrove-news.1.gz ./usr/share/man/man1/kestrove-db.1.gz \
    ./usr/share/doc/kestrove-news/copyright ./usr/share/doc/kestrove-news/changelog.Debian.gz \
    ./usr/share/doc/kestrove-news/guide.md; do
    grep -qx "$file" "$tmp/files" || fail "the package lacks $file"
done
grep -v '^\./usr/' "$tmp/files" && fail "files outside /usr"

# The changelog's newest entry is this very package.
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/kestrove-news/changelog.Debian.gz | gzip -dc | head -n1 |
    grep -q "^kestrove-news ($version-1) " || fail "changelog.Debian.gz does not start with $version-1"

# Lintian finds no error and no warning, and the programs carry Debian's hardening
# (whose missing bind-now and fortified functions lintian reports only as notes).
if command -v lintian >/dev/null; then
    root=
    [ "$(id -u)" = 0 ] && root=--allow-root
    status=0
    lintian $root --fail-on error,warning --display-info "$deb" >"$tmp/lintian.log" 2>&1 || status=$?
    cat "$tmp/lintian.log"
    [ "$status" = 0 ] || fail "lintian failed with status $status"
    ! grep -E '^[EW]: ' "$tmp/lintian.log" || fail "lintian's findings above"
    if [ "$hardening" = full ]; then
        ! grep -E '^I: [^ ]+ hardening-' "$tmp/lintian.log" || fail "lintian's hardening notes above"
    fi
else
    echo "lintian not installed: not run"
fi
echo "package ok"
