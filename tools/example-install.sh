#!/bin/sh
# Lays an example installation of the Pixora scanner suite into a Wine
# prefix's drive C:, with the patch medium's data files beside it:
#   example-install.sh DRIVE_C BASE
# DRIVE_C is the prefix's drive_c folder; BASE the folder below C: that
# holds everything ("" for C:\ itself). Writes:
#   BASE\Pixora Patch\               the patch medium: libdata.src,
#                                    Update.src, Resolve.src, SOURCE\ (good
#                                    copies of the program files)
#   BASE\Program Files\Pixora\...    releases 2.0 and 3.0 (3.0 is newer),
#                                    the toolkit directory Imaging\Kit12
#                                    with a wrong, a missing and two stray
#                                    files, the OCR directory
#                                    Imaging\OcrEngine (the registry names
#                                    both: neither is where or as the update
#                                    engine would derive them)
#   BASE\Pixora Logs\                where the diagnostic log goes
#   BASE\Pixora Patch\example.reg    registry entries to import
#   BASE\Pixora Patch\example-remove.reg   their removal
# The binaries are not copied; the caller puts them into the medium.
set -e
drive_c=$1
base=$2
if [ -n "$base" ]; then
    unix_root="$drive_c/$(printf '%s' "$base" | tr '\\' '/')"
    win_root="C:\\$base"
else
    unix_root="$drive_c"
    win_root="C:"
fi

medium="$unix_root/Pixora Patch"
apps="$unix_root/Program Files/Pixora"
kit="$apps/Imaging/Kit12"
ocr="$apps/Imaging/OcrEngine"
rm -rf "$medium" "$unix_root/Program Files" "$unix_root/Pixora Logs"
mkdir -p "$medium/SOURCE/APP" "$medium/SOURCE/VEX" "$apps/Scan20" "$apps/Scan30" \
    "$kit/Profiles" "$ocr" "$unix_root/Pixora Logs"

# Times of the good files (seconds since 1970) and their file-time words.
good_time=1700000000
filetime() { # seconds -> "HIGH-LOW" in hexadecimal
    ft=$((($1 + 11644473600) * 10000000))
    printf '%X-%X' $((ft >> 32)) $((ft & 0xFFFFFFFF))
}
size_of() { printf '%X' "$(wc -c <"$1")"; }
# good FILE CONTENT: writes a good copy with the good time
good() {
    printf '%s\n' "$2" >"$1"
    touch -d "@$good_time" "$1"
}
entry() { # entry SCRIPT_PATH GOOD_FILE
    printf '%s\n' "File=$1,size:0-$(size_of "$2"),time:$(filetime $good_time)"
}

# Good copies on the medium, and the files already right on disk.
good "$medium/SOURCE/VEX/PXFILTER.DLL" "PXFILTER image filters, build 3.0.2 (good copy)"
good "$medium/SOURCE/VEX/PXOCR.DLL" "PXOCR text recognition bridge, build 3.0.2 (good copy)"
good "$medium/SOURCE/APP/PXSCAN.EXE" "PXSCAN scanner application, release 3.0.2 (good copy)"
good "$kit/PXCORE.DLL" "PXCORE toolkit core, build 3.0.2"
good "$ocr/OCRENG.EXE" "OCRENG recognition engine, build 3.0.2"

# What is wrong on disk: an old filter, a missing OCR bridge, two stray
# files, an old application program.
printf 'PXFILTER image filters, build 3.0.0\n' >"$kit/PXFILTER.DLL"
printf 'temporary scan data\n' >"$kit/STRAY.TMP"
printf 'PXOLD plug-in of release 2.0\n' >"$kit/OLDPLUG.DLL"
printf '[profile]\nname=default\n' >"$kit/Profiles/default.ini"
printf 'PXSCAN scanner application, release 3.0.0\n' >"$apps/Scan30/PXSCAN.EXE"
printf '%%PDF-1.4 handbook\n' >"$apps/Scan30/handbook.pdf"
touch -d '@1610000000' "$apps/Scan30/PXSCAN.EXE" "$apps/Scan30/handbook.pdf" \
    "$kit/PXFILTER.DLL"
# The older release.
printf 'PXSCAN scanner application, release 2.0\n' >"$apps/Scan20/PXSCAN.EXE"
printf 'Pixora Scan 2.0 help\n' >"$apps/Scan20/HELP.TXT"
touch -d '@1550000000' "$apps/Scan20/PXSCAN.EXE" "$apps/Scan20/HELP.TXT"

w_apps="$win_root\\Program Files\\Pixora"
w_vex="$w_apps\\Imaging\\Kit12"
w_medium="$win_root\\Pixora Patch"

# The catalogue: release 4.0 is known but not installed.
cat >"$medium/libdata.src" <<EOT
[Pixora Scan\\2.0]
InstallKey=HKLM,Software\\Orvantis\\Pixora Scan\\2.0
ProgramDir=HKLM,Software\\Orvantis\\Pixora Scan\\2.0,ProgramDir
VEXVersion="1.1"
[Pixora Scan\\3.0]
InstallKey=HKLM,Software\\Orvantis\\Pixora Scan\\3.0,Installed=1
ProgramDir=HKLM,Software\\Orvantis\\Pixora Scan\\3.0,Guide
VEXVersion="1.2"
[Pixora Scan\\4.0]
InstallKey=HKLM,Software\\Orvantis\\Pixora Scan\\4.0
ProgramDir=HKLM,Software\\Orvantis\\Pixora Scan\\4.0,ProgramDir
VEXVersion="1.2"
EOT

# The update script for US English systems.
{
    printf '%s\n' "[409]"
    printf '%s\n' "; Pixora Scan 3.0 to build 3.0.2"
    printf '%s\n' "[Pixora Scan\\3.0]"
    entry '%VEXDIR%\PXCORE.DLL' "$kit/PXCORE.DLL"
    entry '%VEXDIR%\PXFILTER.DLL' "$medium/SOURCE/VEX/PXFILTER.DLL"
    entry '%VEXDIR%\PXOCR.DLL' "$medium/SOURCE/VEX/PXOCR.DLL"
    entry '%APPDIR%PXSCAN.EXE' "$medium/SOURCE/APP/PXSCAN.EXE"
    entry '%OCRDIR%\OCRENG.EXE' "$ocr/OCRENG.EXE"
    printf '%s\n' 'RegValue=HKLM,Software\Orvantis\Pixora Scan\3.0,PluginPath="%VEXDIR%"'
    printf '%s\n' 'RegValue=HKLM,Software\Orvantis\Pixora Scan\3.0,OcrPath="%OCRDIR%"'
    printf '%s\n' 'RegValue=HKLM,Software\Orvantis\Pixora Scan\3.0,Build=dword:302'
    printf '%s\n' 'RegValue=HKCU,Software\Orvantis\Pixora Scan,Language=%LANGID%'
} >"$medium/Update.src"

cat >"$medium/Resolve.src" <<'EOT'
[Pixora Scan\3.0]
PXFILTER.DLL=SOURCE\VEX\PXFILTER.DLL
PXOCR.DLL=SOURCE\VEX\PXOCR.DLL
PXSCAN.EXE=SOURCE\APP\PXSCAN.EXE
EOT

reg_path() { printf '%s' "$1" | sed 's/\\/\\\\/g'; }
cat >"$medium/example.reg" <<EOT
REGEDIT4

[HKEY_LOCAL_MACHINE\\Software\\Orvantis\\Pixora Scan\\2.0]
"ProgramDir"="$(reg_path "$w_apps\\Scan20")"

[HKEY_LOCAL_MACHINE\\Software\\Orvantis\\Pixora Scan\\3.0]
"Installed"=dword:00000001
"Guide"="$(reg_path "$w_apps\\Scan30\\handbook.pdf")"

[HKEY_LOCAL_MACHINE\\Software\\Orvantis\\Pixora\\VEX\\1.2]
"VEXDir"="$(reg_path "$w_vex")"
"PlugInDir"="$(reg_path "$w_vex")"
"OCR Path"="$(reg_path "$w_apps\\Imaging\\OcrEngine\\OCRENG.EXE")"
"OCR Language"=dword:00000009
"Toolkit Version"=dword:00000120
"Usage Count"=dword:00000003

[HKEY_LOCAL_MACHINE\\Software\\Orvantis\\Diagnostic]
"DebugOn"=dword:00000001
"Log Path"="$(reg_path "$win_root\\Pixora Logs")"
EOT
cat >"$medium/example-remove.reg" <<'EOT'
REGEDIT4

[-HKEY_LOCAL_MACHINE\Software\Orvantis\Pixora Scan]
[-HKEY_LOCAL_MACHINE\Software\Orvantis\Pixora]
[-HKEY_LOCAL_MACHINE\Software\Orvantis\Diagnostic]
[-HKEY_CURRENT_USER\Software\Orvantis\Pixora Scan]
EOT
printf '%s\n' "$w_medium"
