#!/usr/bin/env bash
# Installs every Debian package Dovrel builds, tests or runs with. Idempotent: it asks dpkg first and
# only calls apt-get for what is missing, so a second run takes a moment.
set -euo pipefail

packages=(
  # build and tests
  cmake ninja-build g++ pkg-config ccache clang libclang-rt-14-dev libfuzzer-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev python3 git
  # protocol: crypto, test oracle, text segmentation
  libsodium-dev libssl-dev openssl libicu-dev
  # Qt 6: core, network, D-Bus, Quick
  qt6-base-dev qt6-declarative-dev qt6-svg-dev qt6-qpa-plugins libqt6svg6
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-shapes
  qml6-module-qtquick-window qml6-module-qtquick-dialogs qml6-module-qtquick-layouts qml6-module-qtquick-templates
  qml6-module-qtqml qml6-module-qtqml-workerscript qt6-declarative-dev-tools
  # the controller's shadows and blurred glass
  qml6-module-qt5compat-graphicaleffects
  # the programs' type: Inter has the medium and semibold faces the windows use; Cantarell is GNOME's
  fonts-inter fonts-cantarell
  # the file chooser of "Send File" (Qt Quick's own dialog lists folders with it)
  qml6-module-qt-labs-folderlistmodel
  # the video surface's shader, compiled by qsb at build time
  qt6-shadertools-dev
  # video
  libavcodec-dev libavutil-dev libswscale-dev libva-dev libyuv-dev
  # sound at the rate the link carries
  libswresample-dev
  # X11 through xcb
  libxcb1-dev libxcb-shm0-dev libxcb-randr0-dev libxcb-xfixes0-dev libxcb-damage0-dev libxcb-xtest0-dev
  libxcb-screensaver0-dev libxcb-dpms0-dev libxcb-keysyms1-dev libxcb-xkb-dev
  # GNOME's Wayland session: pictures through PipeWire; the tests run a headless GNOME session
  # (mutter, PipeWire, WirePlumber) with a Wayland client of their own on Qt's Wayland platform
  libpipewire-0.3-dev mutter pipewire pipewire-bin wireplumber qt6-wayland
  # audio, local discovery, QR codes, secrets
  libpulse-dev pulseaudio pulseaudio-utils
  libavahi-client-dev avahi-daemon avahi-utils
  libqrencode-dev qtkeychain-qt6-dev
  # tests: QR codes read back by a scanner
  zbar-tools
  # what tests start: X server, tray, buses, keyring, network namespaces
  xvfb x11-utils xdotool trayer dbus dbus-bin dbus-x11 gnome-keyring iproute2
  # a window manager with no compositor, for the window's own edges and header on plain X
  openbox
  # OpenGL on Xvfb (Mesa's software rasteriser) for the shader test
  libgl1-mesa-dri
  # what scripts/run.sh shows on the agent's private screen
  xterm
  # installing and packaging: entry and metadata validators, dpkg-shlibdeps for the package's dependencies
  desktop-file-utils appstream dpkg-dev
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
  echo "setup: all ${#packages[@]} packages present"
  exit 0
fi

echo "setup: installing ${#missing[@]} missing packages: ${missing[*]}"
sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
echo "setup: done"
