#!/usr/bin/env bash
# Builds Dovrel and runs it with its own state under .run/ (never your ~/.dovrel or your controller's
# settings and keyring):
#
#   scripts/run.sh                  the agent streaming a private X screen with a terminal on it, and the
#                                   controller connected to it: paired by the agent's code on the first
#                                   run, by key afterwards. The controller opens on your display; without
#                                   one both run on private X servers and the controller's window is
#                                   saved as .run/controller.png every two seconds.
#   scripts/run.sh --demo           the controller alone, in demo mode
#   scripts/run.sh agent            the agent alone on this display (or a private one), to be reached
#                                   from another machine
#   scripts/run.sh controller HOST  the controller alone, connecting to HOST ("host" or "host:port") by
#                                   key; add -pairingCode CODE after HOST the first time to pair
#
# Ctrl-C stops everything this script started.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=both
case "${1:-}" in
  --demo) mode=demo; shift ;;
  agent) mode=agent; shift ;;
  controller)
    mode=controller; shift
    if [[ $# -lt 1 ]]; then
      echo "usage: scripts/run.sh controller HOST [-pairingCode CODE]" >&2
      exit 2
    fi
    ;;
  "") ;;
  *) echo "usage: scripts/run.sh [--demo | agent | controller HOST [-pairingCode CODE]]" >&2; exit 2 ;;
esac

bash scripts/setup.sh
cmake --preset default
cmake --build --preset default -j "$(nproc)" --target DovrelAgent DovrelController

agent=$PWD/build/default/agent/DovrelAgent
controller=$PWD/build/default/controller/DovrelController
for program in "$agent" "$controller"; do
  if [[ ! -x "$program" ]]; then
    echo "$(basename "$program") was not built; see the build output above." >&2
    exit 1
  fi
done

run=$PWD/.run
agent_home=$run/home
controller_home=$run/controller
mkdir -p "$agent_home/.config/Dovrel" "$controller_home"
chmod 700 "$run" "$agent_home" "$controller_home"

pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Starts a private Xvfb and prints its display (":N").
start_xvfb() {
  local size=$1 displayfile
  displayfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -noreset 3>"$displayfile" >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    [[ -s "$displayfile" ]] && break
    sleep 0.1
  done
  if [[ ! -s "$displayfile" ]]; then
    echo "run: Xvfb did not start" >&2
    exit 1
  fi
  echo ":$(tr -d '[:space:]' <"$displayfile")"
  rm -f "$displayfile"
}

have_display() { [[ -n "${DISPLAY:-}" ]] && xdpyinfo >/dev/null 2>&1; }

# A UDP port nobody holds right now.
free_udp_port() {
  python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# The agent in the background with its home under .run/home, logging to .run/agent.log. It runs on a
# terminal of its own (script) so that it prints its pairing code. Unsupervised: a systemctl that finds
# no user manager keeps it from registering a unit or handing over to an installed agent.
start_agent() {
  local display=$1
  shift
  : >"$run/agent.log"
  local path=$PATH
  [[ -d scripts/no-user-manager ]] && path="$PWD/scripts/no-user-manager:$PATH"
  env PATH="$path" HOME="$agent_home" XDG_CONFIG_HOME="$agent_home/.config" DISPLAY="$display" "$@" \
    script -qfec "$agent" /dev/null >"$run/agent.log" 2>&1 </dev/null &
  agent_pid=$!
  pids+=("$agent_pid")
}

# No window manager runs on the agent's private screen, so nothing moves the keyboard focus: the
# agent's window takes it when it opens and keeps it, and the terminal never gets what is typed. The
# focus follows the pointer there instead: keys go to the window the remote pointer is over.
focus_follows_pointer() {
  local display=$1
  command -v xdotool >/dev/null || return 0
  (
    # The agent's window opens and then takes the focus.
    window=
    for _ in $(seq 100); do
      window=$(DISPLAY=$display xdotool search --onlyvisible --name DOVREL 2>/dev/null | head -1)
      [[ -n "$window" && "$(DISPLAY=$display xdotool getwindowfocus 2>/dev/null)" == "$window" ]] && break
      sleep 0.1
    done
    # Until the pointer next enters a window, keys go to the one it is over (window 1 is X's
    # PointerRoot): the pointer may already rest on the terminal.
    DISPLAY=$display xdotool windowfocus 1
    exec env DISPLAY="$display" xdotool search --onlyvisible --name . behave %@ mouse-enter windowfocus
  ) >/dev/null 2>&1 &
  pids+=($!)
}

# Waits for a line of the agent's log matching a pattern and prints the match.
agent_says() {
  local pattern=$1
  for _ in $(seq 150); do
    if grep -aoE "$pattern" "$run/agent.log" | head -1 | grep .; then return 0; fi
    sleep 0.1
  done
  echo "run: the agent did not start; its log:" >&2
  cat "$run/agent.log" >&2
  exit 1
}

# The controller with its settings and secrets under .run/controller (no session bus: its secrets go to
# owner-only files there instead of your keyring).
controller_env=(HOME="$controller_home" XDG_CONFIG_HOME="$controller_home/.config"
                XDG_DATA_HOME="$controller_home/.local/share" DBUS_SESSION_BUS_ADDRESS=disabled:)

case "$mode" in
  demo)
    have_display || { echo "run: --demo needs a display" >&2; exit 1; }
    exec env "${controller_env[@]}" "$controller" -demo -DovrelDemo
    ;;
  controller)
    have_display || { echo "run: the controller needs a display" >&2; exit 1; }
    host=$1
    shift
    # With the code the agent there is paired, kept in the deck as a Linux machine (its shortcuts take
    # Control, and its card connects again later) and dialled at once. Without one the controller
    # connects by the key an earlier pairing left (a pairing link needs its code, so none is made).
    code=
    rest=()
    while [[ $# -gt 0 ]]; do
      if [[ $1 == -pairingCode && $# -ge 2 ]]; then
        code=$2
        shift 2
      else
        rest+=("$1")
        shift
      fi
    done
    if [[ -n "$code" ]]; then
      exec env "${controller_env[@]}" "$controller" \
        -autoLink "dovrel://pair?host=$host&code=$code&name=$host&kind=linux" "${rest[@]}"
    fi
    echo "run: connecting to $host by key (add -pairingCode CODE the first time)"
    exec env "${controller_env[@]}" "$controller" -autoHost "$host" "${rest[@]}"
    ;;
  agent)
    if have_display; then
      echo "run: the agent streams your X display $DISPLAY"
      display=$DISPLAY
    else
      display=$(start_xvfb 1920x1080)
      echo "run: started Xvfb on $display for the agent"
    fi
    start_agent "$display" DOVREL_CONTROL_PORT="${DOVREL_CONTROL_PORT:-47810}" DOVREL_INPUT_PORT="${DOVREL_INPUT_PORT:-47812}"
    agent_says 'PAIRING CODE: [0-9]+' >/dev/null
    # Another control port than the usual one goes with the host a controller dials.
    reach=THIS-HOST
    [[ "${DOVREL_CONTROL_PORT:-47810}" != 47810 ]] && reach="THIS-HOST:$DOVREL_CONTROL_PORT"
    cat <<INFO
run: the agent listens on TCP ${DOVREL_CONTROL_PORT:-47810} (control) and UDP ${DOVREL_INPUT_PORT:-47812} (input)
     on this machine's addresses: $(hostname -I 2>/dev/null | xargs || echo 127.0.0.1)
     $(agent_says 'PAIRING CODE: [0-9]+') - a controller pairs with it once, then connects by key.
     From another machine: scripts/run.sh controller $reach -pairingCode CODE
     Its window, with the code and its QR code, opens on $display a second after it starts.
     State: $agent_home; log: $run/agent.log. Stop: Ctrl-C.
INFO
    tail -n +1 -f "$run/agent.log" &
    pids+=($!)
    status=0
    wait "$agent_pid" || status=$?
    exit "$status"
    ;;
esac

# Both: the agent streams a private X screen with a terminal on it.
agent_display=$(start_xvfb 1600x900)
if command -v xterm >/dev/null; then
  DISPLAY=$agent_display xterm -geometry 120x36+80+60 -fa Monospace -fs 13 -bg '#0b1020' -fg '#d7dae0' \
    -T "Dovrel: the agent's screen" -e bash --norc -i >/dev/null 2>&1 &
  pids+=($!)
  scene=()
else
  # Nothing to look at without a terminal: the agent's moving test scene instead.
  scene=(DOVREL_SYNTHETIC=1)
fi
video_port=${DOVREL_VIDEO_PORT:-$(free_udp_port)}
start_agent "$agent_display" DOVREL_CONTROL_PORT=0 DOVREL_INPUT_PORT=0 DOVREL_VIDEO_PORT="$video_port" "${scene[@]}"
ports=$(agent_says 'CONTROL tcp/[0-9]+, INPUT udp/[0-9]+')
control_port=$(sed -E 's#CONTROL tcp/([0-9]+).*#\1#' <<<"$ports")
input_port=$(sed -E 's#.*INPUT udp/([0-9]+)#\1#' <<<"$ports")
code=$(agent_says 'PAIRING CODE: [0-9]+' | grep -oE '[0-9]+$')
focus_follows_pointer "$agent_display"

# By key once both ends remember each other; by the code otherwise.
if [[ -s "$agent_home/.dovrel/paired" ]] && grep -qs 'dovrel.agentPub' "$controller_home/.config/Dovrel/DovrelController.ini"; then
  echo "run: connecting by key (paired on an earlier run)"
else
  echo "run: pairing with the agent's code $code"
fi

# The agent's link on this computer: the controller keeps it in its deck as a Linux machine (its
# shortcuts take Control, and a click on its card connects again after a disconnect) and dials it at
# once. The code in it counts only until the key is trusted.
name=$(hostname | tr -cd 'A-Za-z0-9.-')
controller_args=(-autoLink "dovrel://pair?host=127.0.0.1:$control_port&code=$code&name=${name:-agent}&kind=linux")
if have_display; then
  echo "run: the controller opens on $DISPLAY, showing the agent's screen ($agent_display)"
else
  controller_display=$(start_xvfb 1280x800)
  controller_args+=(-windowSnapshot "$run/controller.png")
  export DISPLAY=$controller_display
  echo "run: no display here - the controller runs on Xvfb $controller_display and saves its window as"
  echo "     $run/controller.png every two seconds"
fi
echo "run: logs in $run/agent.log and $run/controller.log. Stop: Ctrl-C."
env "${controller_env[@]}" DOVREL_VIDEO_PORT="$video_port" DOVREL_INPUT_PORT="$input_port" \
  "$controller" "${controller_args[@]}" >"$run/controller.log" 2>&1 &
controller_pid=$!
pids+=("$controller_pid")
status=0
wait "$controller_pid" || status=$?
exit "$status"
