#!/bin/bash
# The bare launcher, built without a payload: it cannot load one, so it ends
# with 1168 (element not found), silently under a quiet switch and otherwise
# with the error box for a corrupted installation file.
source "$(dirname "$0")/lib.sh"

NO_PAYLOAD_TEXT="The installation file is either corrupted or does not support your processor architecture."

# Every quiet switch, in any case and among other arguments, silences the
# message: no window at all, and the whole exit code.
quiet_run() {
  run_probe "$CASE_PREFIX" -- "$LAUNCHER_EXE" "$@"
  assert_exit 1168
  assert_no_window
}
case_quiet() {
  quiet_run /qn
  quiet_run /Q
  quiet_run /QUIET
  quiet_run 'INSTALLDIR=C:\Some Dir\Demo' /qN TRANSFORMS=x.mst
}

# Without a quiet switch the launcher shows the error box, captioned with its
# own file name, and ends with 1168 once OK is pressed. A switch that only
# looks quiet does not silence it.
case_message() {
  run_probe "$CASE_PREFIX" --shot '#32770=no-payload-box' -- "$LAUNCHER_EXE"
  assert_exit 1168
  assert_box_caption "$(basename "$LAUNCHER_EXE")"
  assert_box_text "$NO_PAYLOAD_TEXT"
  assert_line "BOX buttons=OK"
  assert_box_count 1
  assert_screenshot no-payload-box
  run_probe "$CASE_PREFIX" -- "$LAUNCHER_EXE" /qnx '/qn ' -quiet
  assert_exit 1168
  assert_box_text "$NO_PAYLOAD_TEXT"
}

run_case "quiet switches" case_quiet
run_case "error message" case_message
finish
