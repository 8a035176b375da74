# Sourced by the scripts: when there is no X display, start a private Xvfb and export DISPLAY.
# The server is killed when the sourcing shell exits.
start_private_xvfb() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
  local n
  for n in $(seq 91 140); do
    [ -e "/tmp/.X${n}-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
    QF_XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 1 50); do
      if xdpyinfo >/dev/null 2>&1; then
        trap 'kill $QF_XVFB_PID 2>/dev/null || true' EXIT
        return 0
      fi
      sleep 0.1
    done
    kill "$QF_XVFB_PID" 2>/dev/null || true
  done
  echo "could not start Xvfb" >&2
  return 1
}
