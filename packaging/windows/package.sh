#!/usr/bin/env bash
# Packs the Windows build: kestrelis-VERSION-windows-x64.zip and the 64-bit
# installer kestrelis-VERSION-windows-x64-setup.exe, in OUT.
# package.sh SOURCE_DIR OUT VERSION STRIP EXAMPLE_CONFIG PROGRAM.exe...
set -euo pipefail
source_dir=$1 out=$2 version=$3 strip=$4 example=$5
shift 5
name=kestrelis-$version-windows-x64
stage=$out/$name
rm -rf "$stage" "$out/$name.zip" "$out/$name-setup.exe"
mkdir -p "$stage/manual" "$stage/licences"

# Text files for Windows: every line ends with CR LF.
crlf() { sed 's/\r$//; s/$/\r/' "$1" >"$2"; }

for program in "$@"; do
  "$strip" --strip-all -o "$stage/$(basename "$program")" "$program"
done
cp "$source_dir/packaging/windows/kestrelis-tnc-start.cmd" "$stage/"
crlf "$example" "$stage/config.ini.example"
crlf "$source_dir/README.md" "$stage/README.txt"
for program in "$@"; do
  page=$source_dir/man/$(basename "$program" .exe).1
  [[ -f $page ]] || continue
  # Plain text without overstriking or colour.
  groff -man -Tascii -P-c -P-b -P-u "$page" 2>/dev/null >"$stage/manual/$(basename "$page" .1).txt.lf"
  crlf "$stage/manual/$(basename "$page" .1).txt.lf" "$stage/manual/$(basename "$page" .1).txt"
  rm "$stage/manual/$(basename "$page" .1).txt.lf"
done
crlf "$source_dir/packaging/copyright" "$stage/licences/kestrelis.txt"
inih=${KESTRELIS_INIH_DIR:-$source_dir/../shared/third_party/inih-r55}
crlf "$inih/LICENSE.txt" "$stage/licences/inih.txt"
for doc in nlohmann-json3-dev mingw-w64-x86-64-dev gcc-mingw-w64-base; do
  [[ -f /usr/share/doc/$doc/copyright ]] && crlf "/usr/share/doc/$doc/copyright" "$stage/licences/$doc.txt"
done

(cd "$out" && zip -q -r -X "$name.zip" "$name")
makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$out/$name-setup.exe" \
  "$source_dir/packaging/windows/kestrelis.nsi"
echo "package: $out/$name.zip, $out/$name-setup.exe"
