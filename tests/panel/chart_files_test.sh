#!/usr/bin/env bash
# tarvik-cli history chart on a lab history whose image has a hostile file name: the SVG is
# XML that Python parses, with the counts as text and the name as text only; the PNG's chunks,
# CRCs and zlib stream are whole; the history is left as it was.
#   bash chart_files_test.sh TARVIK_CLI SAMPLE_IMAGE
set -uo pipefail
cli="$1"
sample="$2"
command -v python3 >/dev/null || { echo "SKIP: python3 is not installed"; exit 77; }
tmp=$(mktemp -d /tmp/tarvik-chart.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp" || exit 1
export XDG_CONFIG_HOME="$tmp/config" XDG_STATE_HOME="$tmp/state"
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

image=$'fw<script>"\'&\xff.bin'
cp "$sample" "$image"
"$cli" --lab --pace 0 --progress plain upgrade "$image" --all --history h.sqlite >/dev/null 2>err.txt
if grep -q "this build keeps no history" err.txt; then
  echo "SKIP: a build without a history"
  exit 77
fi
before=$(sha256sum <h.sqlite)

"$cli" history --history h.sqlite chart --out chart.svg 2>err.txt || fail "svg: $(cat err.txt)"
"$cli" history --history h.sqlite chart --out chart.PNG 2>err.txt || fail "png: $(cat err.txt)"

python3 - chart.svg chart.PNG <<'PY' || failed=1
import struct, sys, zlib
import xml.etree.ElementTree as ET

NS = "{http://www.w3.org/2000/svg}"
problems = []
root = ET.parse(sys.argv[1]).getroot()
if root.tag != NS + "svg" or root.get("role") != "img" or not root.get("viewBox"):
    problems.append("root: %s %s" % (root.tag, root.attrib))
title = root.find(NS + "title")
if title is None or root.find(NS + "desc") is None:
    problems.append("no title or desc")
elif 'fw<script>"\'&\\xFF.bin' not in title.text:
    problems.append("title: %r" % title.text)
allowed = {"svg", "title", "desc", "rect", "line", "text"}
for element in root.iter():
    if element.tag[len(NS):] not in allowed:
        problems.append("element %s" % element.tag)
    for name, value in element.attrib.items():
        if name.startswith("on") or "href" in name or "url(" in value:
            problems.append("attribute %s=%r" % (name, value))
texts = [(t.get("class"), t.text) for t in root.iter(NS + "text")]
for wanted in [("chart-value", "1/2"), ("chart-name", "Upgrade Finish"),
               ("chart-name", "Hardware Type Mismatch !")]:
    if wanted not in texts:
        problems.append("no text %r" % (wanted,))
if [t for c, t in texts if c == "chart-value"] != ["1/2", "1", "1"]:
    problems.append("values: %r" % texts)

png = open(sys.argv[2], "rb").read()
if png[:8] != b"\x89PNG\r\n\x1a\n":
    problems.append("png signature")
at, idat, width, height, types = 8, b"", 0, 0, []
while at < len(png):
    length, kind = struct.unpack(">I4s", png[at:at + 8])
    data = png[at + 8:at + 8 + length]
    (crc,) = struct.unpack(">I", png[at + 8 + length:at + 12 + length])
    if zlib.crc32(kind + data) != crc:
        problems.append("crc of %s" % kind)
    if kind == b"IHDR":
        width, height, bits, colour = struct.unpack(">IIBB", data[:10])
        if (bits, colour) != (8, 2):
            problems.append("IHDR %d %d" % (bits, colour))
    if kind == b"IDAT":
        idat += data
    types.append(kind)
    at += 12 + length
if types != [b"IHDR", b"IDAT", b"IEND"]:
    problems.append("chunks %r" % types)
if len(zlib.decompress(idat)) != height * (1 + 3 * width):
    problems.append("inflated size")
for problem in problems:
    print("FAIL:", problem, file=sys.stderr)
sys.exit(1 if problems else 0)
PY

[[ $(sha256sum <h.sqlite) == "$before" ]] || fail "the history changed"
exit $failed
