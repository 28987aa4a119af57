#!/usr/bin/env bash
# Remakes the demo job's binary assets (firmware S-records, icon, JPEG picture) in this folder.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
c++ -std=c++20 -O1 -Wall -o "$tmp/make_demo_assets" make_demo_assets.cpp -ljpeg
"$tmp/make_demo_assets"
