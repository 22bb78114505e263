#!/usr/bin/env bash
# The scene module uses the program module's code instead of a copy of its own (a second copy of
# a class would have its own meta-object and statics), and the program module does not load Qt
# Quick.   check-module-split.sh ulmet-full.so ulmet-scene.so
set -euo pipefail
full=$1 scene=$2
symbols() { nm -D --defined-only "$1" | awk '$2 ~ /^[TDBRVW]$/ && $3 !~ /^_(edata|end|_bss_start)$/ {print $3}' | sort -u; }
full_count=$(symbols "$full" | wc -l)
[ "$full_count" -ge 100 ] || { echo "$full exports only $full_count symbols"; exit 1; }
# Inline functions and templates are emitted wherever they are used (weak); a strong definition
# in both is a copy.
strong() { nm -D --defined-only "$1" | awk '$2 ~ /^[TDBR]$/ && $3 !~ /^_(edata|end|_bss_start)$/ {print $3}' | sort -u; }
twice=$(comm -12 <(strong "$full") <(strong "$scene"))
if [ -n "$twice" ]; then
    echo "the scene module defines again what the program module has:"
    echo "$twice" | head -10 | c++filt
    exit 1
fi
if readelf -d "$full" | grep -Eq 'libQt6(Quick|Qml)'; then
    echo "the program module loads Qt Quick or QML itself"
    exit 1
fi
readelf -d "$scene" | grep -q '\[ulmet-full.so\]' || { echo "the scene module does not use the program module"; exit 1; }
echo "module split: $full_count symbols in the program module, none defined again by the scene module"
