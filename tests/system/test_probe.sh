#!/bin/bash
# Proves probe.exe with its fixtures before any launcher test relies on it:
# whole exit codes, message boxes read and answered, quiet programs, argument
# quoting, the folder browser, and the timeout.
source "$(dirname "$0")/lib.sh"

MSGBOX=$FIXTURE_DIR/fixture_msgbox.exe
BROWSE=$FIXTURE_DIR/fixture_browse.exe

# An error box is read, shown on screen, answered with OK, and the exit code
# above 255 arrives whole (the shell would see only 1168 & 255 = 144).
case_box_and_code() {
  run_probe "$CASE_PREFIX" --shot '#32770=box' -- "$MSGBOX" 1168 Demo "Something failed."
  assert_exit 1168
  assert_box_caption "Demo"
  assert_box_text "Something failed."
  assert_line "BOX buttons=OK"
  assert_line "BOX pressed=OK"
  assert_box_count 1
  assert_screenshot box
}

# A program that runs for a while and shows nothing yields no window lines.
case_nothing_shown() {
  run_probe "$CASE_PREFIX" -- "$MSGBOX" --wait 500 7
  assert_exit 7
  assert_no_window
  assert_no_box
}

# Boxes one after another get the listed answers in order, then --answer;
# without answers the default button (Retry) is pressed. The fixture's exit
# code spells the buttons it got (4 Retry, 2 Cancel).
case_answers() {
  run_probe "$CASE_PREFIX" --answers RETRY,RETRY,CANCEL -- "$MSGBOX" --retry Demo 'one\two'
  assert_exit 442
  assert_box_count 3
  assert_line "BOX buttons=Retry,Cancel"
  run_probe "$CASE_PREFIX" --answers RETRY --answer cancel -- "$MSGBOX" --retry Demo x
  assert_exit 42
  run_probe "$CASE_PREFIX" -- "$MSGBOX" --retry Demo x
  assert_exit 444444444
  assert_box_count 9
}

# Arguments with spaces, quotes and trailing backslashes reach the program
# unchanged; line breaks in a box's text are reported as \n. With --raw the
# arguments go into the command line as written, for the program to split.
case_argument_quoting() {
  run_probe "$CASE_PREFIX" -- "$MSGBOX" 5 'INSTALLDIR=C:\Some Dir\Demo\' "a \"quoted\" word"
  assert_box_caption 'INSTALLDIR=C:\Some Dir\Demo\'
  assert_box_text 'a "quoted" word'
  run_probe "$CASE_PREFIX" -- "$MSGBOX" 5 'C:\end\\' $'first line\r\nsecond line'
  assert_box_caption 'C:\end\\'
  assert_box_text 'first line\nsecond line'
  assert_exit 5
  run_probe "$CASE_PREFIX" --raw -- "$MSGBOX" 6 'De"m"o' '"two words"'
  assert_box_caption 'Demo'
  assert_box_text 'two words'
  assert_exit 6
}

# Asking for a button the box lacks stops the run with status 3.
case_missing_button() {
  run_probe "$CASE_PREFIX" --probe-status 3 --answer YES -- "$MSGBOX" 5 Demo text
  assert_line "ERROR the box has no Yes button"
}

# The folder browser gets the wanted folder (nested, with a space, in a
# fresh prefix) or is cancelled.
case_browser() {
  mkdir -p "$CASE_PREFIX/drive_c/Extract Here/inner"
  local out=$CASE_DIR/chosen.txt
  run_probe "$CASE_PREFIX" --browse 'C:\Extract Here\inner' -- "$BROWSE" \
    "Select a folder:" 'C:\windows' "$(winpath "$out")"
  assert_exit 0
  assert_line "BROWSER title=Select a folder:"
  [ "$(cat "$out" 2>/dev/null)" = 'C:\Extract Here\inner' ] ||
    fail "browser chose '$(cat "$out" 2>/dev/null)'"
  rm -f "$out"
  run_probe "$CASE_PREFIX" --browse-cancel -- "$BROWSE" "Select a folder:" 'C:\windows' \
    "$(winpath "$out")"
  assert_exit 1223
  assert_line "BROWSER cancelled"
  [ ! -e "$out" ] || fail "cancelled browser still wrote $out"
}

# Boxes of a process the program started are seen and answered too, and the
# program's own exit code is the one reported.
case_grandchild() {
  run_probe "$CASE_PREFIX" -- 'C:\windows\system32\cmd.exe' /c start /wait \
    "$(winpath "$MSGBOX")" 1168 Inner "from a child"
  assert_box_text "from a child"
  assert_exit 1168
}

# A program that outlives --timeout is killed and reported.
case_timeout() {
  run_probe "$CASE_PREFIX" --probe-status 2 --timeout 1 -- "$MSGBOX" --wait 60000 0
  assert_line "TIMEOUT"
  ! grep -q '^EXIT' "$PROBE_LOG" || fail "EXIT reported after a timeout"
}

run_case "whole exit code and error box" case_box_and_code
run_case "program that shows nothing" case_nothing_shown
run_case "answers in order" case_answers
run_case "argument quoting" case_argument_quoting
run_case "box without the wanted button" case_missing_button
run_case "folder browser" case_browser
run_case "boxes of child processes" case_grandchild
run_case "timeout" case_timeout
finish
