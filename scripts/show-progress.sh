# shellcheck shell=bash
# Sourced by the scripts that run long steps, so that none of them leaves the
# screen silent for more than 10 s.

# show_progress WHAT [PATTERN...]
# Passes the lines read from standard input on to standard error, indented:
# all of them, or with PATTERNs only those that match one of these globs;
# a line the same as the one before it only once (apt-get says each second
# that it waits for a lock).
# Whenever nothing has been shown for 9 s, it says what is still going on
# and for how long: "(still WHAT, 20 s so far)". (The clock is read in
# microseconds, whatever the decimal sign of the locale.)
show_progress() {
  local what=$1
  shift
  local line pending='' status pattern shown previous=''
  local started=${EPOCHREALTIME//[!0-9]/} last=${EPOCHREALTIME//[!0-9]/} now
  while :; do
    status=0
    IFS= read -r -t 0.5 line || status=$?
    if [ "$status" -gt 128 ]; then
      pending+=$line  # the read timed out in the middle of a line
    else
      line=$pending$line pending=
      line=${line%$'\r'}  # the line ends of a terminal, where sudo gives apt-get one
      if [ "$status" -eq 0 ] || [ -n "$line" ]; then
        shown=$(($# == 0))
        for pattern in "$@"; do
          # shellcheck disable=SC2053  # the pattern is a glob
          [[ $line == $pattern ]] && shown=1 && break
        done
        if [ "$shown" -eq 1 ] && [ "$line" != "$previous" ]; then
          echo "  $line" >&2
          last=${EPOCHREALTIME//[!0-9]/}
        fi
        previous=$line
      fi
      [ "$status" -eq 0 ] || break  # the end of the input
    fi
    now=${EPOCHREALTIME//[!0-9]/}
    if [ $((now - last)) -ge 9000000 ]; then
      echo "  (still $what, $(((now - started) / 1000000)) s so far)" >&2
      last=$now
    fi
  done
}

# await_file FILE WHAT [PID]: waits, in the caller's shell (where a trap runs
# at once), until FILE exists, PID (when given) has ended, or a minute has
# passed, saying every 9 s that it is still WHAT; succeeds once FILE exists.
await_file() {
  local file=$1 what=$2 pid=${3-} started=$SECONDS
  show_progress "$what" < <(
    while [ ! -e "$file" ] && [ $((SECONDS - started)) -lt 60 ] &&
          { [ -z "$pid" ] || kill -0 "$pid" 2>/dev/null; }; do
      sleep 0.1
    done
  )
  [ -e "$file" ]
}
