#!/bin/sh
# Layering of the source tree; prints each include that breaks it and fails.
#   board/ reaches no higher layer; core/ reaches slots/, rtp/ and
#   signalling/ from main.cpp only; those three stand side by side and never
#   include each other; benchmarks and shared samples never use the test
#   suites; only tools/install-deps.sh installs packages.
cd "$(dirname "$0")/.." || exit 2
status=0
refuse() { # folder, include prefixes, grep options...
    dir=$1 prefixes=$2
    shift 2
    if grep -rnE "$@" "#include \"($prefixes)/" "$dir"; then
        status=1
    fi
}
refuse board 'core|slots|rtp|signalling'
refuse core 'slots|rtp|signalling' --exclude=main.cpp
refuse slots 'rtp|signalling'
refuse rtp 'slots|signalling'
refuse signalling 'slots|rtp'
refuse bench 'tests'
refuse samples 'tests'
if grep -rln --exclude=CMakeLists.txt 'apt-get\|apt install\|pip install' tests/ bench/ tools/run.sh tools/test.sh; then
    status=1
fi
exit $status
