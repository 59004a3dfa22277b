#!/usr/bin/env bash
# Builds the Debian package of TILLWAVE POS from a build tree:
#   tools/package/build-deb.sh BUILD_DIR OUT_DIR
# The program, its web-process extension, the UI bundle and the sounds go
# read-only under /usr/lib/tillbay; /usr/bin/tillbay is the launcher that
# runs a per-user copy of them. The package relations come from the shared
# libraries the binaries link (dpkg-shlibdeps). Prints the .deb's path.
set -euo pipefail

build=$(readlink -f "${1:?usage: build-deb.sh BUILD_DIR OUT_DIR}")
out=$(readlink -m "${2:?usage: build-deb.sh BUILD_DIR OUT_DIR}")
here=$(dirname "$(readlink -f "$0")")
source_dir=$(readlink -f "$here/../..")

version=$(sed -n 's/^#define TILLBAY_VERSION "\(.*\)"$/\1/p' "$build/generated/tillbay_version.h")
[ -n "$version" ] || { echo "build-deb: no version in $build/generated/tillbay_version.h" >&2; exit 1; }
arch=$(dpkg --print-architecture)
package=tillbay
maintainer="TILLWAVE POS team <pos@tillwave.example>"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
lib=$root/usr/lib/tillbay
mkdir -p "$lib"

# What the build installs as dist/, without the developer's peers (the
# reference platform and the virtual printer): the program and its sounds,
# the web-process extension, the UI bundle.
for part in app os ui; do
    cmake --install "$build/$part" --prefix "$lib" >/dev/null
done
for required in tillbay webext/libtillbay-webext.so version.json login.html orders.html customer.html; do
    [ -e "$lib/$required" ] || { echo "build-deb: the build has no $required" >&2; exit 1; }
done
echo "$version" > "$lib/package-version"
find "$lib" -type d -exec chmod 0755 {} +
find "$lib" -type f -exec chmod 0644 {} +
chmod 0755 "$lib/tillbay"
strip --remove-section=.comment --remove-section=.note --strip-unneeded "$lib/tillbay" "$lib/webext/libtillbay-webext.so"

install -D -m 0755 "$here/tillbay-launcher.sh" "$root/usr/bin/tillbay"
install -D -m 0644 "$here/com.tillwave.Pos.desktop" "$root/usr/share/applications/com.tillwave.Pos.desktop"
install -D -m 0644 "$source_dir/resources/icon.png" "$root/usr/share/icons/hicolor/256x256/apps/com.tillwave.Pos.png"
install -d "$root/usr/share/metainfo"
sed -e "s/@VERSION@/$version/" -e "s/@DATE@/$(date -u +%Y-%m-%d)/" "$here/com.tillwave.Pos.metainfo.xml" \
    > "$root/usr/share/metainfo/com.tillwave.Pos.metainfo.xml"
chmod 0644 "$root/usr/share/metainfo/com.tillwave.Pos.metainfo.xml"

doc=$root/usr/share/doc/$package
install -d "$doc" "$root/usr/share/man/man1"
install -m 0644 "$here/copyright" "$doc/copyright"
{
    echo "$package ($version) unstable; urgency=medium"
    echo
    echo "  * Package of the counter program $version."
    echo
    echo " -- $maintainer  $(date -u -R)"
} | gzip -9n > "$doc/changelog.gz"
chmod 0644 "$doc/changelog.gz"
gzip -9n < "$here/tillbay.1" > "$root/usr/share/man/man1/tillbay.1.gz"
chmod 0644 "$root/usr/share/man/man1/tillbay.1.gz"

# Package relations from the linked libraries.
mkdir -p "$work/src/debian"
printf 'Source: %s\n\nPackage: %s\nArchitecture: any\n' "$package" "$package" > "$work/src/debian/control"
depends=$(cd "$work/src" && dpkg-shlibdeps -O -e"$lib/tillbay" -e"$lib/webext/libtillbay-webext.so" 2>/dev/null \
    | sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || { echo "build-deb: dpkg-shlibdeps found no dependencies" >&2; exit 1; }

install -d "$root/DEBIAN"
installed_size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)
cat > "$root/DEBIAN/control" <<CONTROL
Package: $package
Version: $version
Architecture: $arch
Maintainer: $maintainer
Installed-Size: $installed_size
Depends: $depends
Recommends: fonts-nanum
Section: misc
Priority: optional
Homepage: https://tillwave.example/pos
Description: counter program for restaurant and shop orders
 TILLWAVE POS runs on the shop PC: it shows the store's incoming orders,
 alerts the staff, prints receipts and kitchen tickets, takes cash payments,
 makes payment QR codes and serves order tablets and a kitchen display on
 the shop network. Its screens are web pages shown in WebKitGTK.
 .
 The program is installed read-only under /usr/lib/tillbay; the tillbay
 command runs a per-user copy of it, so that its settings and its own
 updates live in each user's data folder.
CONTROL
(cd "$root" && find usr -type f -printf '%P\n' | sort | while read -r f; do md5sum "usr/$f"; done) > "$root/DEBIAN/md5sums"
chmod 0644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"

mkdir -p "$out"
deb=$out/${package}_${version}_${arch}.deb
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "$deb"
