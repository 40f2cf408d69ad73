#!/bin/sh
# The control-protocol module text, unchanged, must compile with Erlang's
# asn1 in aligned PER (-bper: "+per" would leave erlc at BER).
set -e
here=$(cd "$(dirname "$0")" && pwd)
root=$here/../..
if ! command -v erlc >/dev/null 2>&1; then
    if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
        apt-get install -y -q erlang-base erlang-asn1 >/dev/null
    else
        echo "erlc not found: install erlang-base and erlang-asn1" >&2
        exit 1
    fi
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
python3 "$here/erlang_copy.py" "$tmp" "$root/protocol/base/base.asn" \
    "$root/protocol/acp/acp.asn" "$root/protocol/term/term.asn" "$root/protocol/lgcp/lgcp.asn"
cd "$tmp"
for m in BASE ACP TERM LGCP; do
    erlc -Werror -bper "$m.asn"
done
echo "modules compile with Erlang asn1 (aligned PER)"
