#!/bin/sh
# The demo release's post-install command. The updater runs it from its
# temporary directory with "--"-prefixed arguments; it records what it was
# given in the client's configuration directory and succeeds.
dir=${QVX_CONFIG_DIR:-$HOME/.qvxclient}
mkdir -p "$dir"
printf '%s postinstall %s\n' "$(date +%s)" "$*" >>"$dir/postinstall.log"
exit 0
