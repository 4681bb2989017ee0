#!/bin/sh
# The standard install and the portable folder as `cmake --install` lays them out, the
# desktop entry and AppStream data through their validators (where installed), and the
# installed programs: options without a display, and a first start by a user with an
# empty home on a read-only install.
# Usage: check_install.sh BUILD_DIR STARTER_CSV
set -eu
build=$1
csv=$2
tmp=$(mktemp -d)
trap 'chmod -R u+w "$tmp"; rm -rf "$tmp"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

root=$tmp/root
DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
sizes="16 22 24 32 48 64 128 256"
{
    echo usr/bin/kestrove-db
    echo usr/bin/kestrove-news
    echo usr/share/applications/kestrove-news.desktop
    for size in $sizes; do echo "usr/share/icons/hicolor/${size}x$size/apps/kestrove-news.png"; done
    echo usr/share/icons/hicolor/scalable/apps/kestrove-news.svg
    echo usr/share/kestrove-news/list.db
    echo usr/share/kestrove-news/starter-version
    echo usr/share/doc/kestrove-news/copyright
    echo usr/share/doc/kestrove-news/guide.md
    echo usr/share/man/man1/kestrove-db.1.gz
    echo usr/share/man/man1/kestrove-news.1.gz
    echo usr/share/metainfo/com.example.kestrove.news.metainfo.xml
} | LC_ALL=C sort >"$tmp/expected"
(cd "$root" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) >"$tmp/installed"
diff -u "$tmp/expected" "$tmp/installed" || fail "the standard install holds other files"

# Each PNG is as large as its folder says (width and height from the PNG header).
for size in $sizes; do
    png=$root/usr/share/icons/hicolor/${size}x$size/apps/kestrove-news.png
    dims=$(od -An -tu1 -j16 -N8 "$png" | awk '{ print $1*16777216+$2*65536+$3*256+$4 "x" $5*16777216+$6*65536+$7*256+$8 }')
    [ "$dims" = "${size}x$size" ] || fail "$png is $dims"
done

# The installed starter directory holds exactly the CSV's records, whatever the
# build's own Data/list.db has been through.
bin=$root/usr/bin
"$bin/kestrove-db" create "$tmp/fresh.db"
"$bin/kestrove-db" import "$tmp/fresh.db" "$csv" 2>/dev/null
"$bin/kestrove-db" export "$tmp/fresh.db" >"$tmp/fresh.csv"
"$bin/kestrove-db" check "$root/usr/share/kestrove-news/list.db" >/dev/null || fail "damaged starter directory"
"$bin/kestrove-db" export "$root/usr/share/kestrove-news/list.db" >"$tmp/starter.csv"
cmp -s "$tmp/fresh.csv" "$tmp/starter.csv" || fail "the installed starter directory is not the CSV's"
# Its stamp follows the CSV, so a release with another CSV is merged into users' copies.
[ "$(cat "$root/usr/share/kestrove-news/starter-version")" = "$(sha256sum "$csv" | cut -d' ' -f1)" ] ||
    fail "the starter's version stamp is not the CSV's"

if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$root/usr/share/applications/kestrove-news.desktop"
else
    echo "desktop-file-validate not installed: not run"
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$root/usr/share/metainfo/com.example.kestrove.news.metainfo.xml"
else
    echo "appstreamcli not installed: not run"
fi

# Options need no display and open no window.
nodisplay="env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM"
version=$($nodisplay "$bin/kestrove-news" --version) || fail "kestrove-news --version failed"
[ "$version" = "kestrove-news $("$bin/kestrove-db" --version | cut -d' ' -f2)" ] || fail "versions differ: $version"
number=${version#kestrove-news }
grep -q "<release version=\"$number\" date=\"" "$root/usr/share/metainfo/com.example.kestrove.news.metainfo.xml" ||
    fail "the AppStream data has no release $number"
for page in kestrove-news kestrove-db; do
    gzip -dc "$root/usr/share/man/man1/$page.1.gz" | grep -q "\"$page $number\"" ||
        fail "the manual page of $page is not of $number"
done
# Every command and option of kestrove-db --help has its place in the manual page.
gzip -dc "$root/usr/share/man/man1/kestrove-db.1.gz" | sed 's/\\-/-/g' >"$tmp/kestrove-db.1"
for word in $("$bin/kestrove-db" --help | grep -oE '^  [a-z-]+|--[a-z-]+' | sort -u); do
    case $word in
    --*) grep -qF -- "$word" "$tmp/kestrove-db.1" ;;
    *) grep -qE "^\.BI $word( |\$)" "$tmp/kestrove-db.1" ;;
    esac || fail "the manual page of kestrove-db does not describe $word"
done
$nodisplay "$bin/kestrove-news" --help | grep -q '^Usage: kestrove-news' || fail "kestrove-news --help"
status=0
$nodisplay "$bin/kestrove-news" --no-such-option >"$tmp/out" 2>"$tmp/err" || status=$?
[ "$status" = 2 ] && [ ! -s "$tmp/out" ] && grep -q '^Usage: kestrove-news' "$tmp/err" || fail "unknown option: $status"

# The first start on a read-only install, by a user with an empty home, from a folder
# holding a table of its own: the user's data folder gets the starter directory.
chmod -R a-w "$root"
mkdir -p "$tmp/home" "$tmp/work/Data"
cp "$tmp/fresh.db" "$tmp/work/Data/list.db"
(cd "$tmp/work" && exec env -u XDG_DATA_HOME HOME="$tmp/home" QT_QPA_PLATFORM=offscreen "$bin/kestrove-news" \
    >"$tmp/start.log" 2>&1) &
program=$!
table=$tmp/home/.local/share/kestrove-news/Data/list.db
tries=0
while [ ! -f "$table" ] && kill -0 $program 2>/dev/null && [ $tries -lt 600 ]; do
    sleep 0.1
    tries=$((tries + 1))
done
kill $program 2>/dev/null || true
status=0
wait $program || status=$?
[ -f "$table" ] || { cat "$tmp/start.log" >&2; fail "no user copy of the starter directory (status $status)"; }
[ "$status" = 143 ] || { cat "$tmp/start.log" >&2; fail "the program ended on its own with status $status"; }
"$bin/kestrove-db" export "$table" | cmp -s - "$tmp/starter.csv" || fail "the user's copy differs from the starter"
[ "$(ls -A "$tmp/home/.local/share/kestrove-news/Data" | tr '\n' ' ')" = "base-version base.db list.db " ] ||
    fail "other files than the base beside the user's table"
cmp -s "$tmp/home/.local/share/kestrove-news/Data/base-version" "$root/usr/share/kestrove-news/starter-version" ||
    fail "the base's stamp is not the starter's"
[ "$(ls -A "$tmp/work")" = Data ] || fail "files written in the working directory"
(cd "$root" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) | cmp -s - "$tmp/installed" ||
    fail "the start changed the install"

# The portable folder: the programs and Data/list.db side by side, and nothing else.
cmake --install "$build" --component portable --prefix "$tmp/portable" >/dev/null
(cd "$tmp/portable" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) >"$tmp/portable.list"
printf 'Data/list.db\nkestrove-db\nkestrove-news\n' | cmp -s - "$tmp/portable.list" || {
    cat "$tmp/portable.list" >&2
    fail "the portable folder holds other files"
}
cmp -s "$tmp/portable/Data/list.db" "$root/usr/share/kestrove-news/list.db" || fail "portable starter differs"
echo "install tree ok"
