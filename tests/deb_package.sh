#!/usr/bin/env bash
# cpack -G DEB of this build into a temporary folder: the package's control
# fields, exactly the files it should hold, AppStream's view of the unpacked
# tree, and lintian with no error.
#
#   deb_package.sh CPACK BUILD_DIR VERSION APP_ID "ICON_SIZES"
set -uo pipefail

cpack=$1 build=$2 version=$3 app_id=$4 icon_sizes=$5
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

if ! "$cpack" -G DEB -B "$tmp/out" --config "$build/CPackConfig.cmake" >"$tmp/cpack.log" 2>&1; then
  cat "$tmp/cpack.log" >&2
  echo "FAIL: cpack -G DEB" >&2
  exit 1
fi
arch=$(dpkg --print-architecture)
deb=$tmp/out/orvanta_${version}_${arch}.deb
if [[ ! -f $deb ]]; then
  echo "FAIL: no $(basename "$deb") among: $(ls "$tmp/out")" >&2
  exit 1
fi

# Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == orvanta ]] || fail "Package: $(field Package)"
[[ $(field Version) == "$version" ]] || fail "Version: $(field Version), not $version"
[[ $(field Architecture) == "$arch" ]] || fail "Architecture: $(field Architecture), not $arch"
[[ $(field Section) == graphics ]] || fail "Section: $(field Section)"
[[ $(field Homepage) == https://* ]] || fail "Homepage: $(field Homepage)"
[[ $(field Maintainer) =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer: $(field Maintainer)"
# A synopsis and a description of more than one line.
(($(field Description | wc -l) > 2)) || fail "Description: $(field Description)"
# dpkg-shlibdeps' names for what the programs link: the window's Qt and
# libjpeg, orvanta-compose's OpenCV.
depends=$(field Depends)
for package in 'libqt6widgets6(t64)?' libjpeg62-turbo 'libopencv-core[0-9.a-z]+' \
               'libopencv-imgproc[0-9.a-z]+' 'libopencv-features2d[0-9.a-z]+' 'libc6'; do
  grep -Eq "(^|, )${package}( |,|$)" <<<"$depends" || fail "Depends names no $package: $depends"
done

# Exactly these files, every one a regular file owned by root: a test, the
# benchmark or a helper packed by mistake shows up as extra.
expected=(
  ./usr/bin/orvanta
  ./usr/bin/orvanta-compose
  ./usr/share/applications/$app_id.desktop
  ./usr/share/doc/orvanta/changelog.gz
  ./usr/share/doc/orvanta/copyright
  ./usr/share/icons/hicolor/scalable/apps/$app_id.svg
  ./usr/share/man/man1/orvanta-compose.1.gz
  ./usr/share/man/man1/orvanta.1.gz
  ./usr/share/metainfo/$app_id.metainfo.xml
)
for size in $icon_sizes; do
  expected+=("./usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png")
done
dpkg-deb -c "$deb" >"$tmp/contents" || fail "dpkg-deb -c"
found=$(awk '$1 !~ /^d/ { print $6 }' "$tmp/contents" | sort)
wanted=$(printf '%s\n' "${expected[@]}" | sort)
if [[ $found != "$wanted" ]]; then
  fail "the package's files differ from the expected ones (< expected, > packed):"
  diff <(echo "$wanted") <(echo "$found") >&2
fi
awk '$2 != "root/root" { print "not owned by root: " $0; bad = 1 } END { exit bad }' "$tmp/contents" >&2 ||
  fail "owners"

# The unpacked tree as a software centre sees it: the metainfo valid, its
# launchable desktop entry and its icon found.
dpkg-deb -x "$deb" "$tmp/root" || fail "dpkg-deb -x"
if ! appstreamcli validate-tree --no-net "$tmp/root" >"$tmp/appstream.log" 2>&1; then
  cat "$tmp/appstream.log" >&2
  fail "appstreamcli validate-tree"
fi
for page in orvanta orvanta-compose; do
  zcat "$tmp/root/usr/share/man/man1/$page.1.gz" | grep -q "^\.SH NAME" || fail "$page.1.gz is no manual page"
done

# lintian: errors fail the test; warnings and the rest are shown. Its own
# status says only whether it could check the package.
if ! lintian --no-cfg --display-info --fail-on none "$deb" >"$tmp/lintian.log" 2>&1; then
  fail "lintian did not run: $(cat "$tmp/lintian.log")"
fi
cat "$tmp/lintian.log"
grep -q '^E: ' "$tmp/lintian.log" && fail "lintian reports errors"

if ((failures)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "orvanta_${version}_${arch}.deb: $(wc -l <<<"$found") files, Depends: $depends"
