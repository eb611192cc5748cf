#!/usr/bin/env bash
# install_test.sh BUILD_DIR VERSION GZIP_MAN(0|1) "PNG ICON SIZES"
# `cmake --install` into a staging folder, then: the exact file list, valid desktop entries,
# metadata and manual pages, and both installed programs answering --help and --version.
set -uo pipefail
build=$1 version=$2 gzip_man=$3 sizes=$4
cmake=${CMAKE:-cmake}
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

for tool in "$cmake" desktop-file-validate appstreamcli man readelf; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/common.sh installs it)" >&2; exit 1; }
done
if ! DESTDIR=$stage "$cmake" --install "$build" --prefix /usr >"$stage.log" 2>&1; then
  cat "$stage.log" >&2; rm -f "$stage.log"
  echo "FAIL: cmake --install" >&2; exit 1
fi
rm -f "$stage.log"
usr=$stage/usr
id=io.github.qlxtools
man_ext=
[ "$gzip_man" = 1 ] && man_ext=.gz

# --- the files, and nothing else
expected=(
  bin/qlxsearch bin/qterm
  share/applications/$id.qlxsearch.desktop share/applications/$id.qterm.desktop
  share/doc/qlx-tools/changelog.gz share/doc/qlx-tools/copyright
  share/icons/hicolor/scalable/apps/$id.qlxsearch.svg share/icons/hicolor/scalable/apps/$id.qterm.svg
  share/man/man1/qlxsearch.1$man_ext share/man/man1/qterm.1$man_ext
  share/metainfo/$id.qlxsearch.metainfo.xml
)
for s in $sizes; do
  expected+=(share/icons/hicolor/${s}x$s/apps/$id.qlxsearch.png share/icons/hicolor/${s}x$s/apps/$id.qterm.png)
done
[ "$(ls -A "$stage")" = usr ] || fail "files outside the prefix: $(ls -A "$stage" | tr '\n' ' ')"
diff <(printf '%s\n' "${expected[@]}" | sort) <(cd "$usr" && find . ! -type d | sed 's|^\./||' | sort) ||
  fail "installed files differ from the list above (< missing, > not expected)"
for p in qlxsearch qterm; do
  [ -x "$usr/bin/$p" ] || fail "bin/$p is not executable"
  # A build-tree RUNPATH would make the installed program load the build's libraries.
  if readelf -d "$usr/bin/$p" 2>/dev/null | grep -E 'R(UN)?PATH' | grep -qF "$build"; then
    fail "bin/$p keeps a RUNPATH into the build folder"
  fi
done

# --- PNG icons: the pixel size their folder names
for s in $sizes; do
  for p in qlxsearch qterm; do
    f=$usr/share/icons/hicolor/${s}x$s/apps/$id.$p.png
    [ -f "$f" ] || continue
    read -r w0 w1 w2 w3 h0 h1 h2 h3 < <(od -An -tu1 -j16 -N8 "$f")
    w=$(((w0 << 24) | (w1 << 16) | (w2 << 8) | w3)) h=$(((h0 << 24) | (h1 << 16) | (h2 << 8) | h3))
    [ "$(head -c 4 "$f" | od -An -tx1 | tr -d ' ')" = 89504e47 ] || fail "$f is not a PNG"
    [ "$w" = "$s" ] && [ "$h" = "$s" ] || fail "$f is ${w}x$h, its folder says ${s}x$s"
  done
done

# --- desktop entries: valid, and pointing at an installed icon and program. Hints count too:
# one is a missing main category, which leaves the entry in a catch-all menu.
for f in "$usr"/share/applications/*.desktop; do
  out=$(desktop-file-validate "$f" 2>&1)
  [ $? = 0 ] && [ -z "$out" ] || fail "desktop-file-validate $(basename "$f"): $out"
  icon=$(sed -n 's/^Icon=//p' "$f")
  [ -f "$usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "$(basename "$f"): Icon=$icon is not installed"
  exec=$(sed -n 's/^Exec=//p' "$f")
  [ -x "$usr/bin/${exec%% *}" ] || fail "$(basename "$f"): Exec=$exec names no installed program"
  case $exec in *%*) fail "$(basename "$f"): Exec=$exec takes field codes; the programs take HOST [PORT]" ;; esac
done
grep -qx 'Name\[ja\]=.*' "$usr/share/applications/$id.qlxsearch.desktop" || fail "the finder's entry has no Name[ja]"

# --- AppStream metadata: valid on its own and together with the entry and icon it names
meta=$usr/share/metainfo/$id.qlxsearch.metainfo.xml
out=$(appstreamcli validate --no-net "$meta" 2>&1) || fail "appstreamcli validate: $out"
out=$(appstreamcli validate-tree --no-net "$stage" 2>&1) || fail "appstreamcli validate-tree: $out"
grep -q "<release version=\"$version\"" "$meta" || fail "the metainfo's release is not $version"

# --- the licence: MIT in the metadata and in the copyright file, which carries its terms
grep -q '<project_license>MIT</project_license>' "$meta" || fail "the metainfo's project_license is not MIT"
copyright=$usr/share/doc/qlx-tools/copyright
[ "$(sed -n 's/^License: //p' "$copyright" | sort -u)" = MIT ] || fail "the copyright file names a licence other than MIT"
grep -qx ' Permission is hereby granted, free of charge, to any person obtaining a copy' "$copyright" &&
  grep -qx ' SOFTWARE.' "$copyright" || fail "the copyright file does not carry the MIT terms"

# --- manual pages: render without warnings, carry the version
for p in qlxsearch qterm; do
  page=$usr/share/man/man1/$p.1$man_ext
  [ -f "$page" ] || continue
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man $p: $warnings"
  zcat -f "$page" | grep -q "^\.TH .*\"qlx tools $version\"" || fail "man $p: the title line does not name version $version"
done

# --- the installed programs, with no display: --version, and --help naming the options the manual does
for p in qlxsearch qterm; do
  # A program that wrongly goes on to start keeps its lock and settings in the staging folder.
  run() {
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$stage" XDG_CONFIG_HOME="$stage/config" \
      XDG_RUNTIME_DIR="$stage" QLX_LOCK_DIR="$stage" timeout 10 "$usr/bin/$p" "$@" 2>&1
  }
  out=$(run --version) rc=$?
  first=$(head -n 1 <<<"$out")
  [ "$rc" = 0 ] && [ "$first" = "$p $version" ] ||
    fail "installed $p --version: expected '$p $version' and exit 0, got '$first' (exit $rc)"
  help=$(run --help) rc=$?
  if [ "$rc" != 0 ] || ! grep -q -- '--version' <<<"$help"; then
    fail "installed $p --help: expected the usage and exit 0, got '$(head -n 1 <<<"$help")' (exit $rc)"
    continue
  fi
  # The manual and the usage name the same options, both ways round.
  page=$usr/share/man/man1/$p.1$man_ext
  documented=$(zcat -f "$page" | sed 's/\\-/-/g' | grep -oE -- '--[a-z][a-z-]*[a-z]' | sort -u)
  listed=$(grep -oE -- '--[a-z][a-z-]*[a-z]' <<<"$help" | sort -u)
  for opt in $(comm -13 <(echo "$documented") <(echo "$listed")); do
    fail "man $p does not document $opt, which --help lists"
  done
  for opt in $(comm -23 <(echo "$documented") <(echo "$listed")); do
    fail "man $p documents $opt, which --help does not list"
  done
done

[ "$failures" = 0 ] && echo "install_staging: all checks passed"
exit $((failures > 0))
