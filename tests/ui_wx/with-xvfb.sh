#!/usr/bin/env bash
# Runs a window test program on an X display of its own: a fresh Xvfb
# (a free display number chosen by the server itself), so that parallel test
# processes never share a screen and no window opens on the user's desktop.
# Without Xvfb the program runs on the display it was given, if any (the
# window tests skip without one).
set -u
if ! command -v Xvfb >/dev/null 2>&1; then
  exec "$@"
fi
fifo=$(mktemp -u "${TMPDIR:-/tmp}/q7xvfb-XXXXXX")
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" 2>/dev/null &
server=$!
display=
read -r -t 20 display <"$fifo"
rm -f "$fifo"
if [ -z "$display" ]; then
  echo "with-xvfb: Xvfb did not start" >&2
  kill "$server" 2>/dev/null
  exit 1
fi
export DISPLAY=":$display"
unset WAYLAND_DISPLAY
# Under AddressSanitizer the toolkit's lasting allocations are suppressed by
# where they are made (lsan-toolkit.supp): the toolkit's libraries have no
# frame pointers, so the unwinder that reads the debugging information takes
# the allocation stacks, and only their five innermost frames, so that a
# rule meets the code that allocated and not a toolkit loop far up the
# stack (which would hide what the dialog module leaks in its handlers).
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}fast_unwind_on_malloc=0:malloc_context_size=5"
# For screenshots a small window manager draws the windows' title bars.
manager=
if [ "${QUARO7_UPDATE_SCREENSHOTS:-}" = 1 ] && command -v matchbox-window-manager >/dev/null 2>&1; then
  matchbox-window-manager -use_titlebar yes -use_cursor no 2>/dev/null &
  manager=$!
  sleep 0.5
fi
"$@"
status=$?
[ -n "$manager" ] && kill "$manager" 2>/dev/null
kill "$server" 2>/dev/null
wait "$server" 2>/dev/null
exit $status
