#!/bin/sh
# The demo release's post-install command. The updater runs it from its
# temporary directory with "--"-prefixed arguments; it records what it was
# given in the client's configuration directory and succeeds.
#
# For the end-to-end tests: QVX_DEMO_POSTINSTALL_SLEEP keeps it running that
# many seconds (to stop the updater meanwhile), QVX_DEMO_POSTINSTALL_EXIT
# chooses its exit code (1010 asks for a computer restart).
dir=${QVX_CONFIG_DIR:-$HOME/.qvxclient}
mkdir -p "$dir"
printf '%s postinstall %s\n' "$(date +%s)" "$*" >>"$dir/postinstall.log"
if [ -n "${QVX_DEMO_POSTINSTALL_SLEEP:-}" ]; then
  sleep "$QVX_DEMO_POSTINSTALL_SLEEP"
fi
exit "${QVX_DEMO_POSTINSTALL_EXIT:-0}"
