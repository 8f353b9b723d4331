#!/bin/sh
# The host finds the study by these exact, undecorated export names, and the
# DLL must load on a machine without any mingw runtime DLL.
set -eu
dll="$1"
objdump="${2:-x86_64-w64-mingw32-objdump}"
dump=$("$objdump" -p "$dll")
names=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | sort)
expected=$(printf '%s\n' QuorbelleThirdPartyNotices scdll_DLLName scdll_DLLVersion scsf_QuorbelleApiSyncCollector | sort)
if [ "$names" != "$expected" ]; then
  echo "unexpected export table:"; printf '%s\n' "$names"; exit 1
fi
imports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
for bad in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
  if printf '%s\n' "$imports" | grep -qx "$bad"; then
    echo "depends on mingw runtime $bad"; exit 1
  fi
done
echo "exports ok: $(printf '%s' "$names" | tr '\n' ' ')"
