#!/bin/sh
# The control-protocol module text, unchanged, must compile with Erlang's
# asn1 in aligned PER (-bper: "+per" would leave erlc at BER).
set -e
here=$(cd "$(dirname "$0")" && pwd)
root=$here/../..
if ! command -v erlc >/dev/null 2>&1; then
    echo "erlc not found: run tools/install-deps.sh" >&2
    exit 1
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
python3 "$root/protocol/toolkit_copy.py" "$tmp" "$root/protocol/base/base.asn" \
    "$root/protocol/acp/acp.asn" "$root/protocol/term/term.asn" "$root/protocol/lgcp/lgcp.asn"
cd "$tmp"
for m in BASE ACP TERM LGCP; do
    erlc -Werror -bper "$m.asn"
done
echo "modules compile with Erlang asn1 (aligned PER)"
