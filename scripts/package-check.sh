#!/usr/bin/env bash
# Checks the packages of build/packages/ (scripts/package.sh) as an operator meets them:
# lintian (errors fail, warnings are listed), desktop-file-validate and appstreamcli on the
# installed files; that zelnet-ports ships /etc/zelnet/ports.conf as a configuration file and that
# velkor and velkup depend on it; then unpacks every package into a temporary root (dpkg -x) and
# runs the installed programs from there, offscreen, in a clean environment (no ZELNET_COM<n>),
# against the installed bvsim named COM1 in a user map written by the installed zelnet-ports:
# Velkor's start-up search must find the validator (seen in its session log), Velkup's window
# must start (seen in the settings file it creates), and velkup-batch, when packaged, must update
# a validator on COM1.
set -euo pipefail
cd "$(dirname "$0")/.."

shopt -s nullglob
debs=(build/packages/*.deb)
if [ ${#debs[@]} -eq 0 ]; then
  echo "package-check: no packages in build/packages (run scripts/package.sh)" >&2
  exit 1
fi

work=$(mktemp -d /tmp/zelnet-package-check.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "package-check: FAILED: $*" >&2
  exit 1
}
# wait_for SECONDS COMMAND...: true once COMMAND succeeds, false after SECONDS.
wait_for() {
  local tries=$(($1 * 10))
  shift
  for _ in $(seq "$tries"); do
    if "$@"; then return 0; fi
    sleep 0.1
  done
  return 1
}

echo "== packages"
for deb in "${debs[@]}"; do
  printf '%-40s %6s KiB  Installed-Size %s KiB\n' "$(basename "$deb")" \
    "$(($(stat -c %s "$deb") / 1024))" "$(dpkg-deb -f "$deb" Installed-Size)"
  dpkg-deb -f "$deb" Package Version Section Depends | sed 's/^/    /'
done

echo "== zelnet-ports: the system's map and the programs' dependency"
ports_deb=$(ls build/packages/zelnet-ports_*.deb 2>/dev/null | head -n 1)
[ -n "$ports_deb" ] || fail "no zelnet-ports package"
dpkg-deb -I "$ports_deb" conffiles | grep -qx /etc/zelnet/ports.conf ||
  fail "/etc/zelnet/ports.conf is not a conffile of zelnet-ports"
for program in velkor velkup; do
  deb=$(ls build/packages/${program}_*.deb)
  dpkg-deb -f "$deb" Depends | grep -q 'zelnet-ports (= ' || fail "$program does not depend on zelnet-ports"
done

echo "== lintian"
for deb in "${debs[@]}"; do
  lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian $(basename "$deb")"
done

root=$work/root
for deb in "${debs[@]}"; do dpkg -x "$deb" "$root"; done

echo "== desktop-file-validate, appstreamcli validate"
desktops=("$root"/usr/share/applications/*.desktop)
[ ${#desktops[@]} -ge 2 ] || fail "desktop entries missing"
for desktop in "${desktops[@]}"; do
  desktop-file-validate "$desktop" || fail "desktop-file-validate $(basename "$desktop")"
  exec_name=$(sed -n 's/^Exec=//p' "$desktop")
  icon=$(sed -n 's/^Icon=//p' "$desktop")
  [ -x "$root/usr/bin/$exec_name" ] || fail "$(basename "$desktop"): no program $exec_name"
  [ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] &&
    [ -f "$root/usr/share/icons/hicolor/48x48/apps/$icon.png" ] ||
    fail "$(basename "$desktop"): icon $icon missing"
done
for metainfo in "$root"/usr/share/metainfo/*.xml; do
  appstreamcli validate --no-net "$metainfo" || fail "appstreamcli $(basename "$metainfo")"
done
for program in "$root"/usr/bin/*; do
  name=$(basename "$program")
  [ -f "$root/usr/share/man/man1/$name.1.gz" ] || fail "no manual for $name"
done
[ -f "$root/usr/share/man/man5/zelnet-ports.conf.5.gz" ] || fail "no manual for zelnet-ports.conf"
grep -q '^COM' "$root/etc/zelnet/ports.conf" && fail "the system map names a port: it must be all comments"

echo "== the installed programs against the installed bvsim, named COM1 in a user map alone"
# What a program started from the desktop's menu has: a home, a path, no ZELNET_COM<n>. Its
# records and the user's map go below that home.
home=$work/home
mkdir -p "$home"
clean=(env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen)

"$root/usr/bin/bvsim" --quiet --memory 0x80000 --link "$work/bv1" </dev/null >"$work/bvsim1.out" 2>&1 &
pids+=($!)
wait_for 10 test -e "$work/bv1" || fail "bvsim made no pty: $(cat "$work/bvsim1.out")"

"${clean[@]}" "$root/usr/bin/zelnet-ports" set COM1 "$work/bv1" || fail "zelnet-ports set"
[ "$(cat "$home/.config/zelnet/ports.conf")" = "COM1 = $work/bv1" ] ||
  fail "user map: $(cat "$home/.config/zelnet/ports.conf")"
"${clean[@]}" "$root/usr/bin/zelnet-ports" | sed 's/^/    /'
"${clean[@]}" "$root/usr/bin/zelnet-ports" --json >"$work/ports.json" || true
python3 - "$work/ports.json" "$work/bv1" <<'PY' || fail "zelnet-ports --json: $(cat "$work/ports.json")"
import json, sys
com1 = json.load(open(sys.argv[1]))["ports"][0]
assert (com1["name"], com1["target"], com1["source"], com1["state"]) == \
    ("COM1", sys.argv[2], "user map", "present"), com1
PY

logs=$home/.local/state/Velkor/logs
found() { grep -qs 'Device has found on COM1!' "$logs"/velkor-*.log; }
"${clean[@]}" "$root/usr/bin/velkor" >"$work/velkor.out" 2>&1 &
velkor_pid=$!
pids+=("$velkor_pid")
wait_for 30 found || fail "Velkor did not find bvsim: $(cat "$work/velkor.out")"
kill -0 "$velkor_pid" || fail "Velkor ended"
sed 's/^/    /' "$logs"/velkor-*.log
kill "$velkor_pid"
echo "Velkor found the validator through the user map (session log above)"

# Velkup's window reads the remembered choices when it is built and creates their file when it is
# missing: that file appearing, with the program still running, is the window having started.
"${clean[@]}" "$root/usr/bin/velkup" >"$work/velkup.out" 2>&1 &
velkup_pid=$!
pids+=("$velkup_pid")
velkup_conf=$home/.config/Velkup/Configuration.conf
wait_for 30 test -e "$velkup_conf" ||
  fail "Velkup's window did not start: $(cat "$work/velkup.out")"
kill -0 "$velkup_pid" || fail "Velkup ended: $(cat "$work/velkup.out")"
kill "$velkup_pid"
echo "Velkup's window started (it created $(basename "$velkup_conf"))"

if [ -x "$root/usr/bin/velkup-batch" ]; then
  srec_cat -generate 0xB000 0x1B000 -repeat-string "Velkup firmware " \
    -o "$work/image.vkf" -intel -output_block_size=16
  "${clean[@]}" "$root/usr/bin/velkup-batch" --port COM1 --images encryption,bvcontrol \
    --report "$work/report.json" "$work/image.vkf" </dev/null >"$work/batch.out" 2>&1 ||
    fail "velkup-batch: exit $?: $(cat "$work/batch.out")"
  grep -q '"result" *: *"ok"' "$work/report.json" || fail "velkup-batch report: $(cat "$work/report.json")"
  tail -n 5 "$work/batch.out"
  echo "velkup-batch updated the validator"
fi
echo "Package check passed."
