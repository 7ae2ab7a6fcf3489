#!/usr/bin/env bash
# check_install.sh <build dir>: installs into a scratch prefix and starts the launcher as a new user
# would; builds the Debian package, runs lintian on it and, as root, installs and removes it.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Started without arguments, the program must still run after four seconds.
runs() { local rc=0; timeout 4 "$1" || rc=$?; [ $rc -eq 124 ] || { echo "$1 ended early (exit $rc)"; exit 1; }; }

cmake --install "$build" --prefix "$work/prefix" >/dev/null
(cd "$work/prefix" && ls bin/orvik-monitor lib/orvik-monitor/{orvik-monitor,ORVIK-Monitor_manual.pdf,warning.wav,crash.wav} \
  share/applications/orvik-monitor.desktop share/icons/hicolor/256x256/apps/orvik-monitor.png >/dev/null)
desktop=$work/prefix/share/applications/orvik-monitor.desktop
grep -q '^Exec=orvik-monitor$' "$desktop"
[ -z "$(desktop-file-validate "$desktop")" ] || { desktop-file-validate "$desktop"; exit 1; }

# The launcher fills the user's own folder, but not when asked only for its version.
export HOME=$work/home XDG_DATA_HOME='' QT_QPA_PLATFORM=offscreen
mkdir -p "$HOME"
"$work/prefix/bin/orvik-monitor" --version | grep -q '^orvik-monitor ' || { echo "no version"; exit 1; }
[ ! -e "$HOME/.local" ] || { echo "--version made the user's folder"; exit 1; }
runs "$work/prefix/bin/orvik-monitor"
data=$HOME/.local/share/orvik-monitor
(cd "$data" && ls warning.wav crash.wav ORVIK-Monitor_manual.pdf journal.html >/dev/null)
[ ! -e "$data/settings.xml" ] || { echo "a start wrote settings.xml"; exit 1; }

# After an upgrade the manual and default sounds follow the installed copies; the user's own sound stays.
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
for f in bin/orvik-monitor lib/orvik-monitor/{orvik-monitor,ORVIK-Monitor_manual.pdf} \
         share/man/man1/orvik-monitor.1.gz share/doc/orvik-monitor/{copyright,changelog.gz}; do
  grep -q " ./usr/$f\$" <<<"$contents" || { echo "not in the package: $f"; exit 1; }
done
depends=$(dpkg-deb -f "$deb" Depends)
for d in libqt5sql5-sqlite qttranslations5-l10n libqt5multimedia5-plugins; do
  grep -qw "$d" <<<"$depends" || { echo "the package does not depend on $d: $depends"; exit 1; }
done
# Debian's own checks, while the package is installed: an error fails, warnings are shown.
lintian --fail-on error "$deb" >"$work/lintian.txt" 2>&1 & lintian=$!

if [ "$(id -u)" -ne 0 ]; then
  echo "install of the package skipped: not root"
elif dpkg-query -W -f='${Status}' orvik-monitor 2>/dev/null | grep -q 'ok installed'; then
  echo "install of the package skipped: orvik-monitor is installed on this machine"
else
  # Installed as a user would have it, started once, removed again.
  trap 'dpkg -r orvik-monitor >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
  dpkg -i "$deb" >/dev/null
  /usr/bin/orvik-monitor --version | grep -q '^orvik-monitor ' || { echo "installed: no version"; exit 1; }
  # Images that leave manuals out (dpkg path-exclude) have none to find.
  grep -qs '^path-exclude=/usr/share/man' /etc/dpkg/dpkg.cfg.d/* || man -w orvik-monitor >/dev/null ||
    { echo "installed: no manual page"; exit 1; }
  export HOME=$work/home-deb
  mkdir -p "$HOME"
  runs /usr/bin/orvik-monitor
  [ -e "$HOME/.local/share/orvik-monitor/journal.html" ] || { echo "the packaged program made no journal"; exit 1; }
  dpkg -r orvik-monitor >/dev/null
  for f in /usr/bin/orvik-monitor /usr/lib/orvik-monitor; do [ ! -e "$f" ] || { echo "removal left $f"; exit 1; }; done
  ! dpkg-query -W -f='${Status}' orvik-monitor 2>/dev/null | grep -q 'ok installed' || { echo "still installed"; exit 1; }
fi
wait "$lintian" || { cat "$work/lintian.txt"; echo "lintian found errors in the package"; exit 1; }
cat "$work/lintian.txt"
echo "install and package: ok"
