#!/bin/sh
# Checks the component's image: its machine (FORMAT, objdump's name of it:
# pei-x86-64 or pei-i386), exactly the four COM exports under their plain
# names (a 32-bit stdcall name would carry "@n"), the module name of the
# export directory, and the version resource's strings.
# Usage: check_dll_image.sh DLL [FORMAT]
set -e
dll="$1"
format="${2:-pei-x86-64}"
# This objdump reads both machines' images.
dump=$(x86_64-w64-mingw32-objdump -p "$dll")
printf '%s\n' "$dump" | grep -qE "file format $format\$" || { echo "not a $format image"; exit 1; }
exports=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -E '^\s*\[ *[0-9]+\] ' | sed 's/.*\] //' | sort | tr '\n' ' ')
want="DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer "
if [ "$exports" != "$want" ]; then
    echo "exports: '$exports', expected '$want'"; exit 1
fi
printf '%s\n' "$dump" | grep -qE "^Name[[:space:]]+[0-9a-f]+ OrvexFileSource\.DLL$" || { echo "export directory does not name OrvexFileSource.DLL"; exit 1; }
# The version strings are UTF-16 in the resource section.
for s in "Mpeg2 seamless playback" "TallowFileSource Module" "OrvexFileSource" "TallowFileSource.DLL" \
         "OLESelfRegister" "1, 2, 0, 0" "Software\\VEZizurad\\TallowFileSource" "File Source Properties"; do
    if ! strings -el "$dll" | grep -qF "$s"; then
        echo "resource string missing: $s"; exit 1
    fi
done
echo "dll image: $format, 4 exports, module OrvexFileSource.DLL, version and string resources present"
