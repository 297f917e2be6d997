#!/usr/bin/env bash
# The main job on the built-in example: build, pack the sample MSI into
# out/setup.exe, run it under Wine and show what happened.
set -euo pipefail
echo "demo: not yet - the end-to-end example arrives with the publisher tool"
