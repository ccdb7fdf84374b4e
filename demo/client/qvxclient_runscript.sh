#!/bin/sh
# Starts the Quorvex client of this installation with its own libraries.
here=$(cd "$(dirname "$0")" && pwd)
LD_LIBRARY_PATH="$here${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" exec "$here/qvxclient_linux_amd64" "$@"
