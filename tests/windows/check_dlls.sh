#!/usr/bin/env bash
# Reads the Windows build's modules with objdump and checks what a host and
# the loader will see:
#   exports   NorvAvi.dll exports exactly its eleven functions at 1..11
#   imports   it takes the host's four libraries by ordinal only, each
#             ordinal one of that library's table, and otherwise needs only
#             Windows' own DLLs
#   host      the stand-in host libraries export their tables at the same
#             ordinals, forwarding to names norvhost.dll exports
# Usage: check_dlls.sh OBJDUMP BUILD_DIR exports|imports|host
set -euo pipefail
objdump=$1 dir=$2 what=$3

fail() { echo "FAIL: $*" >&2; exit 1; }

# The host's tables, ordinal=role name.
declare -A table
table[NorvOpsUtils.dll]="1=RunCroppingDialog 2=AskPresetPath 3=ConfirmMovieRequest
  4=FormatFrameRate 7=HostIsNtsc 8=HostHasHardware 9=SavePresetFile 10=LoadPresetFile"
table[QELENTRY.dll]="15=ProjectWidth 16=ProjectHeight 17=ProjectFrameRateX100
  34=IsDvReverseAvailable 354=RunHardwareOptionsDialog"
table[QELUTILS.dll]="52=GetHostFolder 87=HostAlloc 88=HostFree 89=CopyFileTypeSettings
  108=WriteProfileInt 113=ReadProfileInt 131=PositionWindow"
table[brilimg.dll]="13=ImageFromDib 64=ReduceColors 86=ImagePalette 6=ImageToDib 4=ReleaseImage"

# "ordinal name" per exported name: objdump lists names with their index
# from the ordinal base.
named_exports() {
  "$objdump" -p "$1" | awk '
    /^Export Address Table -- Ordinal Base/ { base = $NF }
    /^\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
    on && /^\t\[ *[0-9]+\] / { gsub(/[\[\]]/, ""); print $1 + base, $2; next }
    on { on = 0 }'
}

# "ordinal target" per forwarder, "ordinal -" per plain export.
address_table() {
  "$objdump" -p "$1" | awk '
    /^Export Address Table -- Ordinal Base/ { on = 1; next }
    on && /\+base\[/ {
      match($0, /\+base\[ *[0-9]+\]/); ord = substr($0, RSTART + 6, RLENGTH - 7) + 0
      if ($0 ~ /Forwarder RVA/) print ord, $NF; else print ord, "-"
      next }
    on && !/^\t/ { on = 0 }'
}

# "dll ordinal-or-name" per import.
imports() {
  "$objdump" -p "$1" | awk '
    /^\tDLL Name: / { dll = $3; next }
    /^\tvma:/ { next }
    dll != "" && /^\t[0-9a-f]+\t/ {
      if ($3 == "<none>") print dll, "#" $2; else print dll, $3
      next }
    /^$/ { }'
}

case $what in
exports)
  expected="1 FileTypeLaunchSettings
2 FileTypeDefaultSettings
3 FileTypeGetSettingsInfo
4 FileTypeMakeSameAsPrj
5 FileTypeEnsureToInit
6 MakeMovieInitCompression
7 MakeMovieCloseCompression
8 MakeMovieCompressVideoFrame
9 MakeMovieCompressAudioFrame
10 MakeMovieGetContext
11 MakeMovieDeleteContext"
  got=$(named_exports "$dir/NorvAvi.dll" | sort -n)
  [ "$got" = "$expected" ] || fail "NorvAvi.dll exports
$got
expected
$expected"
  slots=$(address_table "$dir/NorvAvi.dll" | awk '{ print $1 }' | tr '\n' ' ')
  [ "$slots" = "1 2 3 4 5 6 7 8 9 10 11 " ] || fail "NorvAvi.dll export slots: $slots"
  echo "NorvAvi.dll: the 11 exports at ordinals 1..11, undecorated"
  ;;
imports)
  allowed=" KERNEL32.dll msvcrt.dll GDI32.dll USER32.dll MSVFW32.DLL COMCTL32.DLL COMDLG32.DLL ${!table[*]} "
  list=$(imports "$dir/NorvAvi.dll")
  [ -n "$list" ] || fail "no imports read from NorvAvi.dll"
  used=0
  while read -r dll entry; do
    case " $allowed " in *" $dll "*) ;; *) fail "NorvAvi.dll needs $dll" ;; esac
    [ -n "${table[$dll]+x}" ] || continue
    [[ $entry == \#* ]] || fail "$dll: $entry imported by name"
    ord=${entry#\#}
    [[ " ${table[$dll]//$'\n'/ } " == *" $ord="* ]] || fail "$dll: ordinal $ord is not in the host's table"
    used=$((used + 1))
  done <<< "$list"
  [ "$used" -gt 0 ] || fail "NorvAvi.dll imports nothing from the host's libraries"
  echo "NorvAvi.dll: $used host imports, all by ordinal from the host's tables"
  ;;
host)
  core=$(named_exports "$dir/norvhost.dll" | awk '{ print $2 }')
  for dll in "${!table[@]}"; do
    [ -z "$(named_exports "$dir/$dll")" ] || fail "$dll exports names"
    got=$(address_table "$dir/$dll" | awk '$2 != "-"' | sort -n)
    expected=$(for pair in ${table[$dll]}; do echo "${pair%%=*} norvhost.${pair#*=}"; done | sort -n)
    # Slots between the table's ordinals stay empty.
    [ "$got" = "$expected" ] || fail "$dll forwards
$got
expected
$expected"
    for pair in ${table[$dll]}; do
      grep -qx "${pair#*=}" <<< "$core" || fail "norvhost.dll does not export ${pair#*=}"
    done
  done
  echo "host libraries: every table entry forwards to norvhost.dll"
  ;;
*) fail "unknown check $what" ;;
esac
