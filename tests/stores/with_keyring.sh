#!/bin/sh
# Runs a command with a Secret Service of its own: meant to run under dbus-run-session, which gives it a
# private session bus. gnome-keyring-daemon keeps its keyring in a scratch home, unlocked with a throwaway
# password, and ends with the bus.
set -eu
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME="$home" XDG_DATA_HOME="$home/.local/share" XDG_RUNTIME_DIR="$home/run"
mkdir -p "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
printf 'test' | gnome-keyring-daemon --unlock --components=secrets >/dev/null
"$@"
