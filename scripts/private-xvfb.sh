# Sourced by the scripts that need a display of their own:
#   . scripts/private-xvfb.sh; start_private_xvfb LOGFILE
# starts Xvfb on a free display number (Xvfb picks it and tells it through a
# pipe), exports DISPLAY and sets xvfb_pid; the caller stops it.
start_private_xvfb() {
  local fifo display
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >"$1" 2>&1 &
  xvfb_pid=$!
  read -r display <"$fifo" || true
  rm -f "$fifo"
  [ -n "${display:-}" ] || { echo "Xvfb did not start (see $1)"; exit 1; }
  export DISPLAY=":$display"
}
