# Sourced by the desktop benchmarks: a virtual display with a tray, and folders of their own
# for the program (its settings, data and runtime folder, so that no other copy's
# single-instance socket is met). Needs $work, $display and the $pids array of the caller;
# $xvfb_options, when set, adds options to the X server's command line.

start_tray_session() {
  # shellcheck disable=SC2086 # several options, split on purpose
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp ${xvfb_options:-} >/dev/null 2>&1 &
  pids+=($!)
  export DISPLAY=$display
  for _ in $(seq 1 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.05; done
  trayer --edge top --align right --widthtype pixel --width 200 --height 24 >/dev/null 2>&1 &
  pids+=($!)
  sleep 0.5

  unset QT_QPA_PLATFORM
  export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/runtime"
  export LANGUAGE=en LC_ALL=C.UTF-8
  mkdir -p -m 700 "$XDG_RUNTIME_DIR"
  mkdir -p "$XDG_CONFIG_HOME/VarneloEject"
}

# The program's own settings: the first-launch question answered, automatic update checks off,
# tray mode $1 (true or false).
write_settings() {
  cat >"$XDG_CONFIG_HOME/VarneloEject/defaults.plist" <<PLIST
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>VEOnboarded</key><true/>
<key>VEMenuBarMode</key><$1/>
<key>VEUpdaterAutomaticChecks</key><false/>
</dict></plist>
PLIST
}

# The CPU time all threads of process $1 have used, in nanoseconds.
cpu_of() {
  local total=0 ns task
  for task in /proc/"$1"/task/*; do
    read -r ns _ <"$task/schedstat" 2>/dev/null && total=$((total + ns))
  done
  echo "$total"
}
