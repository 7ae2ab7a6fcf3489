#!/usr/bin/env bash
# check_install.sh <build dir>
# Installs into a scratch prefix, starts the installed launcher as a new user would and
# builds the Debian package, checks it with lintian and, as root, installs and removes it;
# fails on anything missing.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
for f in bin/orvik-monitor lib/orvik-monitor/orvik-monitor lib/orvik-monitor/ORVIK-Monitor_manual.pdf \
         lib/orvik-monitor/warning.wav lib/orvik-monitor/crash.wav \
         share/applications/orvik-monitor.desktop share/icons/hicolor/256x256/apps/orvik-monitor.png; do
  [ -e "$work/prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
desktop=$work/prefix/share/applications/orvik-monitor.desktop
grep -q '^Exec=orvik-monitor$' "$desktop"
# Hints count: a menu files an entry by its categories.
[ -z "$(desktop-file-validate "$desktop")" ] || { desktop-file-validate "$desktop"; exit 1; }

# The launcher runs the program in the user's own folder, which it fills; asked only for its
# version, it touches nothing.
export HOME=$work/home XDG_DATA_HOME='' QT_QPA_PLATFORM=offscreen
mkdir -p "$HOME"
"$work/prefix/bin/orvik-monitor" --version | grep -q '^orvik-monitor ' || { echo "no version"; exit 1; }
[ ! -e "$HOME/.local" ] || { echo "--version made the user's folder"; exit 1; }
set +e
timeout 4 "$work/prefix/bin/orvik-monitor"
rc=$?
set -e
[ $rc -eq 124 ] || { echo "the installed program ended early (exit $rc)"; exit 1; }
data=$HOME/.local/share/orvik-monitor
for f in warning.wav crash.wav ORVIK-Monitor_manual.pdf journal.html; do
  [ -e "$data/$f" ] || { echo "not in the user's folder: $f"; exit 1; }
done
[ ! -e "$data/settings.xml" ] || { echo "a start wrote settings.xml"; exit 1; }

# After an upgrade: the manual and a default sound follow the installed copies, a sound the
# user replaced stays.
lib=$work/prefix/lib/orvik-monitor
echo old >"$data/ORVIK-Monitor_manual.pdf"
echo mine >"$data/warning.wav"
cp "$lib/warning.wav" "$lib/crash.wav"
timeout 2 "$work/prefix/bin/orvik-monitor" || true
cmp -s "$data/ORVIK-Monitor_manual.pdf" "$lib/ORVIK-Monitor_manual.pdf" || { echo "old manual kept"; exit 1; }
cmp -s "$data/crash.wav" "$lib/crash.wav" || { echo "the default sound was not updated"; exit 1; }
[ "$(cat "$data/warning.wav")" = mine ] || { echo "the user's own sound was overwritten"; exit 1; }

# The package holds the same files under /usr.
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg" >/dev/null)
deb=$(ls "$work"/pkg/*.deb)
contents=$(dpkg-deb -c "$deb")
for f in ./usr/bin/orvik-monitor ./usr/lib/orvik-monitor/orvik-monitor ./usr/lib/orvik-monitor/ORVIK-Monitor_manual.pdf \
         ./usr/share/man/man1/orvik-monitor.1.gz ./usr/share/doc/orvik-monitor/copyright \
         ./usr/share/doc/orvik-monitor/changelog.gz; do
  grep -q " $f\$" <<<"$contents" || { echo "not in the package: $f"; exit 1; }
done
depends=$(dpkg-deb -f "$deb" Depends)
for d in libqt5sql5-sqlite qttranslations5-l10n libqt5multimedia5-plugins; do
  grep -qw "$d" <<<"$depends" || { echo "the package does not depend on $d: $depends"; exit 1; }
done
# Debian's own checks, while the package is installed: an error fails, warnings are shown.
lintian --fail-on error "$deb" >"$work/lintian.txt" 2>&1 &
lintian=$!

if [ "$(id -u)" -ne 0 ]; then
  echo "install of the package skipped: not root"
elif dpkg-query -W -f='${Status}' orvik-monitor 2>/dev/null | grep -q 'ok installed'; then
  echo "install of the package skipped: orvik-monitor is installed on this machine"
else
  # Installed as a user would have it, started once, removed again.
  trap 'dpkg -r orvik-monitor >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
  dpkg -i "$deb" >/dev/null
  /usr/bin/orvik-monitor --version | grep -q '^orvik-monitor ' || { echo "installed: no version"; exit 1; }
  man -w orvik-monitor >/dev/null || { echo "installed: no manual page"; exit 1; }
  export HOME=$work/home-deb
  mkdir -p "$HOME"
  rc=0
  timeout 4 /usr/bin/orvik-monitor || rc=$?
  [ $rc -eq 124 ] || { echo "the packaged program ended early (exit $rc)"; exit 1; }
  [ -e "$HOME/.local/share/orvik-monitor/journal.html" ] || { echo "the packaged program made no journal"; exit 1; }
  dpkg -r orvik-monitor >/dev/null
  for f in /usr/bin/orvik-monitor /usr/lib/orvik-monitor; do [ ! -e "$f" ] || { echo "removal left $f"; exit 1; }; done
  ! dpkg-query -W -f='${Status}' orvik-monitor 2>/dev/null | grep -q 'ok installed' || { echo "still installed"; exit 1; }
fi
wait "$lintian" || lintian=failed
cat "$work/lintian.txt"
[ "$lintian" != failed ] || { echo "lintian found errors in the package"; exit 1; }
echo "install and package: ok"
