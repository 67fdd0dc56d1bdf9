#!/usr/bin/env bash
# `cmake --install` into a fresh prefix: every file lands where the desktop, man, bash and polkit
# look for it, and each passes the validator its format has.
# Usage: install_test.sh BUILD_DIR PROJECT_VERSION GUI(ON|OFF)
set -euo pipefail
build=$1 version=$2 gui=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >"$work/install.log" || {
  cat "$work/install.log" >&2
  fail "cmake --install failed"
}

expect=(
  bin/flashwright-cli
  share/man/man1/flashwright.1.gz
  share/man/man1/flashwright-cli.1.gz
  share/bash-completion/completions/flashwright-cli
  share/doc/flashwright/manual.html
)
for image in "$(dirname "$0")"/../../docs/images/*; do
  expect+=("share/doc/flashwright/images/$(basename "$image")")
done
if [[ $gui == ON ]]; then
  expect+=(
    bin/flashwright
    bin/flashwright-crash-box  # the crash handler runs it from beside the program
    share/applications/flashwright.desktop
    share/metainfo/io.github.flashwright_mivo.flashwright.metainfo.xml
    share/icons/hicolor/scalable/apps/flashwright.svg
    share/polkit-1/actions/io.github.flashwright-mivo.flashwright.policy
  )
  for size in 16 24 32 48 64 128 256; do
    expect+=("share/icons/hicolor/${size}x${size}/apps/flashwright.png")
  done
fi
for f in "${expect[@]}"; do
  [[ -s $prefix/$f ]] || fail "missing or empty: $f"
done

"$prefix/bin/flashwright-cli" --version | grep -qx "Flashwright v.* Beta (.*)" ||
  fail "the installed flashwright-cli does not run"

# Manual pages: groff's warnings are errors, and every section a reader looks for is there.
for page in flashwright flashwright-cli; do
  zcat "$prefix/share/man/man1/$page.1.gz" >"$work/$page.1"
  warnings=$(groff -k -Tutf8 -man -ww -z "$work/$page.1" 2>&1)
  [[ -z $warnings ]] || fail "$page.1: $warnings"
  text=$(MANWIDTH=120 man -l "$work/$page.1" 2>/dev/null)
  for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" ENVIRONMENT FILES "SEE ALSO"; do
    grep -q "^$section" <<<"$text" || fail "$page.1 has no $section section"
  done
done

bash -n "$prefix/share/bash-completion/completions/flashwright-cli" ||
  fail "the bash completion does not parse"

if [[ $gui == ON ]]; then
  desktop-file-validate "$prefix/share/applications/flashwright.desktop" >"$work/desktop.log" 2>&1 ||
    true
  [[ ! -s $work/desktop.log ]] || fail "desktop-file-validate: $(cat "$work/desktop.log")"

  metainfo=$prefix/share/metainfo/io.github.flashwright_mivo.flashwright.metainfo.xml
  appstreamcli validate --no-net --pedantic "$metainfo" >"$work/appstream.log" 2>&1 ||
    fail "appstreamcli: $(cat "$work/appstream.log")"
  grep -q "Validation was successful.$" "$work/appstream.log" ||
    fail "appstreamcli has remarks: $(cat "$work/appstream.log")"
  grep -q "<release version=\"$version\"" "$metainfo" ||
    fail "the metainfo has no release entry for version $version"
  grep -q '<screenshot type="default">' "$metainfo" || fail "the metainfo has no screenshot"

  # The polkit action against polkit's own DTD (mapped to the local copy: no network), with the
  # program's absolute path under this prefix and the GUI allowed.
  policy=$prefix/share/polkit-1/actions/io.github.flashwright-mivo.flashwright.policy
  dtd=/usr/share/polkit-1/policyconfig-1.dtd
  [[ -f $dtd ]] || fail "polkit's DTD $dtd is missing (package polkitd)"
  cat >"$work/catalog.xml" <<EOF
<?xml version="1.0"?>
<catalog xmlns="urn:oasis:names:tc:entity:xmlns:xml:catalog">
  <system systemId="http://www.freedesktop.org/software/polkit/policyconfig-1.dtd" uri="file://$dtd"/>
</catalog>
EOF
  XML_CATALOG_FILES=$work/catalog.xml xmllint --nonet --noout --valid "$policy" ||
    fail "the polkit action is not valid"
  grep -q "key=\"org.freedesktop.policykit.exec.path\">$prefix/bin/flashwright<" "$policy" ||
    fail "the polkit action does not name $prefix/bin/flashwright"
  grep -q 'key="org.freedesktop.policykit.exec.allow_gui">true<' "$policy" ||
    fail "the polkit action does not allow the GUI"
  grep -q '^Icon=flashwright$' "$prefix/share/applications/flashwright.desktop" ||
    fail "the desktop entry does not use the installed icon"

  for size in 16 48 256; do
    png=$prefix/share/icons/hicolor/${size}x${size}/apps/flashwright.png
    # The PNG header's width and height, big-endian at bytes 16 to 23.
    dims=$(od -v -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}')
    [[ $dims == "${size}x${size}" ]] || fail "the ${size}x${size} icon is $dims"
  done
fi
echo "install test passed: ${#expect[@]} files under $prefix"
