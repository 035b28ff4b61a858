#!/usr/bin/env bash
# Checks what `cmake --install` and `cpack -G DEB` deliver, from a finished default build: installs into
# a temporary prefix, validates the desktop entries and AppStream metadata, starts the installed agent
# with a private home on a private Xvfb until it says it is up (and checks that the systemd unit it
# registers starts the installed program), starts the installed controller offscreen until it draws its
# window, then installs and removes the Debian packages in a throwaway root. Exits non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/default
work=$(mktemp -d)
xvfb_pid=""
agent_pid=""
cleanup() {
  if [[ -n "$agent_pid" ]]; then kill "$agent_pid" 2>/dev/null || true; wait "$agent_pid" 2>/dev/null || true; fi
  if [[ -n "$xvfb_pid" ]]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "install-check: FAILED: $*" >&2; exit 1; }

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  local seconds=$1
  shift
  local until=$((SECONDS + seconds))
  until "$@"; do
    ((SECONDS < until)) || return 1
    sleep 0.1
  done
}

prefix="$work/prefix"
echo "== install into $prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log"

programs=(agent controller)
expected=(bin/DovrelAgent etc/xdg/autostart/com.quendal.dovrel.agent.desktop)
for program in "${programs[@]}"; do
  id=com.quendal.dovrel.$program
  expected+=("share/applications/$id.desktop" "share/metainfo/$id.metainfo.xml"
    "share/icons/hicolor/scalable/apps/$id.svg")
  for size in 16 22 24 32 48 64 128 256 512; do
    expected+=("share/icons/hicolor/${size}x${size}/apps/$id.png")
  done
done
for f in "${expected[@]}"; do
  [[ -s "$prefix/$f" ]] || fail "$f was not installed"
done
grep -qx "Exec=$prefix/bin/DovrelAgent" "$prefix/share/applications/com.quendal.dovrel.agent.desktop" ||
  fail "the agent's desktop entry does not start the installed program"
grep -qx "Exec=$prefix/bin/DovrelAgent" "$prefix/etc/xdg/autostart/com.quendal.dovrel.agent.desktop" ||
  fail "the autostart entry does not start the installed program"
echo "install-check: ${#expected[@]} files installed for: ${programs[*]}"

echo "== desktop entries and AppStream metadata"
entries=("$prefix"/share/applications/*.desktop "$prefix"/etc/xdg/autostart/*.desktop)
metainfo=("$prefix"/share/metainfo/*.metainfo.xml)
for f in "${entries[@]}"; do
  desktop-file-validate "$f" || fail "desktop-file-validate $f"
done
for f in "${metainfo[@]}"; do
  appstreamcli validate --no-net --explain "$f" || fail "appstreamcli validate $f"
done
echo "install-check: ${#entries[@]} desktop entries and ${#metainfo[@]} metainfo files are valid"

echo "== the installed agent starts"
home="$work/home"
mkdir -p "$home/.config/Dovrel" "$home/run" "$work/bin"
chmod 700 "$home/run"
printf '{\n    "lan": true\n}\n' >"$home/.config/Dovrel/relay.json"
# A user manager of its own: it takes the unit the agent registers and reports it enabled, but runs no
# process for it, so the agent keeps running in this process after its hand-over times out.
cat >"$work/bin/systemctl" <<STANDIN
#!/bin/sh
state="$work/unit-enabled"
[ "\$1" = --user ] || exit 2
case "\$2" in
show) case "\$3" in --property=Version) echo Version=252 ;; *) echo MainPID=0 ;; esac ;;
is-enabled) if [ -e "\$state" ]; then echo enabled; else echo not-found; exit 1; fi ;;
enable) touch "\$state" ;;
start|import-environment) ;;
*) exit 2 ;;
esac
STANDIN
chmod +x "$work/bin/systemctl"

displayfile="$work/display"
Xvfb -displayfd 3 -screen 0 1280x720x24 -nolisten tcp 3>"$displayfile" >/dev/null 2>&1 &
xvfb_pid=$!
wait_for 20 test -s "$displayfile" || fail "Xvfb did not start"
display=":$(tr -d '[:space:]' <"$displayfile")"

env -i PATH="$work/bin:$PATH" HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_RUNTIME_DIR="$home/run" \
  DISPLAY="$display" DOVREL_CONTROL_PORT=0 DOVREL_INPUT_PORT=0 DOVREL_VIDEO_PORT=0 \
  "$prefix/bin/DovrelAgent" </dev/null >"$work/agent.out" 2>&1 &
agent_pid=$!
log="$home/.dovrel-agent.log"
if ! wait_for 60 grep -qs "Dovrel agent up" "$log"; then
  cat "$log" "$work/agent.out" >&2 || true
  fail "the installed agent did not come up"
fi
kill -0 "$agent_pid" 2>/dev/null || fail "the installed agent ended after coming up"
unit="$home/.config/systemd/user/com.quendal.dovrel.agent.service"
grep -qx "ExecStart=\"$prefix/bin/DovrelAgent\"" "$unit" || {
  cat "$unit" >&2 || true
  fail "the agent's systemd unit does not start the installed program"
}
# The session's autostart entry, run while the agent is already up (as when the unit started it at
# login first), must end at once and leave the running one alone.
autostart=$(sed -n 's/^Exec=//p' "$prefix/etc/xdg/autostart/com.quendal.dovrel.agent.desktop")
status=0
env -i PATH="$work/bin:$PATH" HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_RUNTIME_DIR="$home/run" \
  DISPLAY="$display" DOVREL_CONTROL_PORT=0 DOVREL_INPUT_PORT=0 DOVREL_VIDEO_PORT=0 \
  timeout 60 "$autostart" </dev/null >>"$work/agent.out" 2>&1 || status=$?
((status == 0)) || fail "a second copy started by the autostart entry ended with status $status"
grep -q "another Dovrel Agent is already running" "$log" || fail "the second copy did not defer to the first"
(($(grep -c "Dovrel agent up" "$log") == 1)) || fail "the autostart entry started a second agent"
kill -0 "$agent_pid" 2>/dev/null || fail "the running agent ended when a second copy started"
kill "$agent_pid"
wait "$agent_pid" 2>/dev/null || true
agent_pid=""
grep -E "supervisor|already running" "$log" | sed 's/^/    /'
echo "install-check: the installed agent came up, registered $unit for $prefix/bin/DovrelAgent, and a copy from the autostart entry deferred to it"

echo "== the installed controller starts"
# Offscreen, in demo mode, with a private home: its window is saved as a picture once its QML, loaded
# from the program's own resources, is up.
mkdir -p "$work/chome"
snapshot="$work/controller.png"
env -i PATH="$PATH" HOME="$work/chome" XDG_CONFIG_HOME="$work/chome/.config" XDG_RUNTIME_DIR="$home/run" \
  QT_QPA_PLATFORM=offscreen "$prefix/bin/DovrelController" -DovrelDemo -windowSnapshot "$snapshot" \
  </dev/null >"$work/controller.out" 2>&1 &
controller_pid=$!
if ! wait_for 60 test -s "$snapshot"; then
  cat "$work/controller.out" >&2 || true
  kill "$controller_pid" 2>/dev/null || true
  fail "the installed controller did not show its window"
fi
kill -0 "$controller_pid" 2>/dev/null || fail "the installed controller ended after showing its window"
kill "$controller_pid"
wait "$controller_pid" 2>/dev/null || true
echo "install-check: the installed controller came up offscreen and drew its window"

echo "== Debian package"
bash scripts/package.sh >"$work/package.log" 2>&1 || {
  cat "$work/package.log" >&2
  fail "scripts/package.sh"
}
shopt -s nullglob
debs=("$build"/package/*.deb)
((${#debs[@]} > 0)) || fail "no package was built"
if ! command -v dpkg >/dev/null || [[ $(id -u) -ne 0 && -z "$(command -v fakeroot)" ]]; then
  echo "install-check: skipped installing the package: dpkg needs root or fakeroot, and neither is here"
  echo "install-check: all passed"
  exit 0
fi
as_root=()
[[ $(id -u) -ne 0 ]] && as_root=(fakeroot)
for deb in "${debs[@]}"; do
  name=$(dpkg-deb -f "$deb" Package)
  # apt resolves its dependencies from this machine's packages: they are what the program links.
  if command -v apt-get >/dev/null; then
    apt-get install -s --no-install-recommends "./$deb" >"$work/apt.log" 2>&1 || {
      cat "$work/apt.log" >&2
      fail "apt cannot install $deb here"
    }
    grep -q "^Inst $name " "$work/apt.log" || grep -q "$name is already the newest" "$work/apt.log" || {
      cat "$work/apt.log" >&2
      fail "apt would not install $name"
    }
  fi
  # A throwaway root holds only dpkg's database: the libraries are not there, so dependencies are not
  # checked; what is checked is that every file lands and leaves again.
  root="$work/root-$name"
  mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
  touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
  "${as_root[@]}" dpkg --root="$root" --log=/dev/null --force-depends -i "$deb" >"$work/dpkg.log" 2>&1 || {
    cat "$work/dpkg.log" >&2
    fail "dpkg -i $deb"
  }
  [[ -x "$root/usr/bin/DovrelAgent" || "$name" != dovrel-agent ]] || fail "$name did not install /usr/bin/DovrelAgent"
  files=$(dpkg --root="$root" -L "$name" | wc -l)
  "${as_root[@]}" dpkg --root="$root" --log=/dev/null --purge "$name" >>"$work/dpkg.log" 2>&1 || {
    cat "$work/dpkg.log" >&2
    fail "dpkg --purge $name"
  }
  left=$(cd "$root" && find . -mindepth 1 -not -path './var' -not -path './var/lib' -not -path './var/lib/dpkg*')
  [[ -z "$left" ]] || fail "$name left files behind: $left"
  echo "install-check: $name installed $files paths into a throwaway root and purged cleanly"
done
echo "install-check: all passed"
