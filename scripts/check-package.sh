#!/usr/bin/env bash
# Checks the installation of a built tree: the desktop entry and AppStream file validate, the
# Debian package holds what it should and lintian finds no error in it (its warnings are
# printed), and Velline installed into a temporary DESTDIR starts on a private X server with the
# build folder moved away and draws its notch.
#   scripts/check-package.sh [BUILD_DIR]      default: build
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
APP_ID=org.velline.Velline
fail() { echo "check-package: $*" >&2; exit 1; }

deb=$(BUILD_DIR=$BUILD bash scripts/package.sh | tail -n1)
[ -f "$deb" ] || fail "no package was built"

echo "== desktop entry and AppStream metadata"
desktop-file-validate "$BUILD/data/$APP_ID.desktop"
appstreamcli validate --no-net "$BUILD/data/$APP_ID.metainfo.xml"

echo "== $(basename "$deb"): $(du -k "$deb" | cut -f1) KiB"
dpkg-deb --info "$deb"
contents=$(dpkg-deb --contents "$deb")
for path in ./usr/bin/velline ./usr/bin/vellinectl ./usr/bin/velline-feedsim \
    "./usr/share/applications/$APP_ID.desktop" "./usr/share/metainfo/$APP_ID.metainfo.xml" \
    "./usr/share/icons/hicolor/scalable/apps/$APP_ID.svg" \
    "./usr/share/icons/hicolor/symbolic/apps/$APP_ID-symbolic.svg" \
    "./usr/share/icons/hicolor/48x48/apps/$APP_ID.png" \
    "./usr/share/icons/hicolor/256x256/apps/$APP_ID.png" \
    ./usr/share/man/man1/velline.1.gz ./usr/share/man/man1/vellinectl.1.gz \
    ./usr/share/man/man1/velline-feedsim.1.gz ./usr/share/doc/velline/copyright \
    ./usr/share/doc/velline/changelog.gz; do
  grep -q " $path\$" <<<"$contents" || fail "the package lacks $path"
done
depends=$(dpkg-deb --field "$deb" Depends)
for dep in libqt6quick6 libssl3 qml6-module-qtquick-shapes fonts-material-design-icons-iconfont \
    fonts-inter; do
  grep -q "$dep" <<<"$depends" || fail "the package does not depend on $dep"
done

# Debian's limit for the description: 80 columns, the leading space included.
long=$(dpkg-deb --field "$deb" Description | awk 'length($0) > 80')
[ -z "$long" ] || fail "description lines over 80 columns: $long"

echo "== lintian"
# Errors fail the check; warnings and the rest are listed. Lintian warns about running as root.
lintian_log=$(mktemp)
status=0
lintian --fail-on error --display-info --tag-display-limit 0 "$deb" >"$lintian_log" 2>&1 ||
  status=$?
cat "$lintian_log"
grep -q '^E: ' "$lintian_log" && fail "lintian found errors in $(basename "$deb")"
[ "$status" -eq 0 ] || fail "lintian did not run (exit status $status)"
rm -f "$lintian_log"

echo "== installed copy starts with the build folder moved away"
tmp=$(mktemp -d)
away="$BUILD.moved-away"
restore() {
  [ -d "$away" ] && mv "$away" "$BUILD"
  rm -rf "$tmp"
}
trap restore EXIT
DESTDIR="$tmp/root" cmake --install "$BUILD" --prefix /usr >/dev/null
mv "$BUILD" "$away"
cat >"$tmp/inner.sh" <<'INNER'
set -u
root=$1 tmp=$2
convert -size 64x64 xc:'#3a6ea5' "$tmp/desktop.png"
display -window root "$tmp/desktop.png"
XDG_CONFIG_HOME=$tmp/config XDG_DATA_DIRS=$root/usr/share:/usr/share \
  "$root/usr/bin/velline" --demo >"$tmp/log" 2>&1 &
pid=$!
sleep 8
import -window root "$tmp/screen.png"
kill $pid 2>/dev/null
wait $pid
INNER
xvfb-run -a -s "-screen 0 1920x1080x24" bash "$tmp/inner.sh" "$tmp/root" "$tmp" ||
  fail "the installed Velline did not run: $(cat "$tmp/log")"
echo "velline said: $(cat "$tmp/log")"
"$tmp/root/usr/bin/velline" --version
mv "$away" "$BUILD"
mkdir -p "$BUILD/check-package"
cp "$tmp/screen.png" "$BUILD/check-package/installed-notch.png"
# The notch: black at the top centre of the screen, with lighter text inside; the desktop colour
# beside it.
pixel() { convert "$tmp/screen.png" -format "%[hex:u.p{$1,$2}]" info:; }
centre=$(pixel 960 4)
side=$(pixel 300 4)
[ "${centre:0:6}" = "000000" ] || fail "no notch at the top centre (pixel $centre)"
[ "${side:0:6}" = "3A6EA5" ] || fail "the desktop beside the notch is covered (pixel $side)"
bright=$(convert "$tmp/screen.png" -crop 800x40+560+0 -threshold 50% -format "%[fx:mean]" info:)
awk -v m="$bright" 'BEGIN { exit !(m > 0.005) }' || fail "the notch shows no text"
echo "check-package: all good ($deb)"
