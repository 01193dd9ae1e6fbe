#!/bin/sh
# The window without a display it can open: one line saying what is missing and where the model
# runs without one, status 1, never Qt's abort.
#
#   no_display_test.sh ZELMORA
program=$1
failed=0
check() {  # NAME ENV-ARGS...
  name=$1
  shift
  err=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@" timeout 60 "$program" 2>&1 >/dev/null)
  status=$?
  case "$err" in
    *"needs a display"*zelmora-batch*) ;;
    *) echo "FAILED ($name): stderr does not say what is missing: $err"; failed=1 ;;
  esac
  case "$err" in *Reinstalling*|*"could not load"*) echo "FAILED ($name): Qt's words shown: $err"; failed=1 ;; esac
  [ "$status" -eq 1 ] || { echo "FAILED ($name): status $status, not 1"; failed=1; }
}
check "no display named"
# A display named but not there: a socket path that cannot exist.
check "a display that cannot be opened" DISPLAY=:987654
exit $failed
