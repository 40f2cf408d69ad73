#!/bin/sh
# Writes the Erlang reference encodings of the LGCP test messages on stdout.
# Regenerate the checked-in file with:  ./make_vectors.sh > lgcp_vectors.txt
set -e
here=$(cd "$(dirname "$0")" && pwd)
root=$here/../..
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
python3 "$root/protocol/toolkit_copy.py" --by-value "$tmp" "$root/protocol/base/base.asn" \
    "$root/protocol/acp/acp.asn" "$root/protocol/term/term.asn" "$root/protocol/lgcp/lgcp.asn"
(cd "$tmp" && for m in BASE ACP TERM LGCP; do erlc -bper "$m.asn"; done) >&2
escript "$here/lgcp_vectors.escript" "$tmp"
