#!/bin/sh
# Checks the component's image: exactly the four COM exports, the module name
# of the export directory, and the version resource's strings.
set -e
dll="$1"
dump=$(x86_64-w64-mingw32-objdump -p "$dll")
exports=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -oE '^\s*\[ *[0-9]+\] [A-Za-z_][A-Za-z0-9_]*' | sed 's/.*\] //' | sort | tr '\n' ' ')
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
echo "dll image: 4 exports, module OrvexFileSource.DLL, version and string resources present"
