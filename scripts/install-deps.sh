#!/usr/bin/env bash
# Installs every Debian 12 package Velline needs to build, run and test.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
PKGS=(
  g++ cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-declarative-dev qt6-declarative-dev-tools
  qt6-httpserver-dev qt6-websockets-dev qt6-tools-dev
  qml6-module-qttest qml6-module-qtquick qml6-module-qtquick-shapes
  qml6-module-qtquick-controls qml6-module-qtquick-layouts qml6-module-qtquick-templates
  qml6-module-qtquick-window qml6-module-qtqml-workerscript qml6-module-qtqml
  qml6-module-qtqml-models qml6-module-qtquick-dialogs qt6-svg-dev qt6-image-formats-plugins
  libxcb1-dev libxcb-keysyms1-dev libxcb-shape0-dev libxcb-xfixes0-dev libxkbcommon-dev libgl-dev
  libgtest-dev libbenchmark-dev
  fonts-material-design-icons-iconfont fonts-dejavu-core fonts-inter
  libssl-dev clang dbus dbus-x11 desktop-file-utils appstream librsvg2-bin dpkg-dev file
  xvfb xauth xdotool imagemagick xcompmgr x11-xserver-utils x11-utils curl
  openbox xfce4-panel picom sway grim xwayland
  faketime dunst lintian
)
if ! dpkg -s "${PKGS[@]}" >/dev/null 2>&1; then
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${PKGS[@]}"
fi
