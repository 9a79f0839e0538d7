#!/bin/sh
# The round trip of the release pipeline: a reference installation made
# under Wine, its data authored and checked by the native fixwise of the
# build host, the repair of a damaged copy under Wine again. The tree holds
# a name outside ASCII: authored in the prefix's ANSI code page.
#   native-author.sh FIXWISE PREFIX WINE_RUN TEST_PROGRAM
set -e
fixwise=$1
prefix=$2
wine_run=$3
test_program=$4
folder="$prefix/drive_c/fwtest/native-rt"
trap 'rm -rf "$folder"' EXIT INT TERM
win_folder='C:\fwtest\native-rt'

"$wine_run" "$test_program" --gtest_filter=NativeAuthoredData.Reference \
    "--native-folder=$win_folder" --phase=reference
ref="$folder/ref"
# The names in the ANSI code page of the prefix, as the engines read them.
codepage=$(cat "$folder/codepage.txt")
"$fixwise" author --product 'Scan Suite\2.0' --lang "$(cat "$folder/lang.txt")" \
    --codepage "$codepage" --anchor R000.DAT --out "$folder/patch" \
    %VEXDIR%="$ref/VEXsoft/PLUGINS12" %APPDIR%="$ref/Scanner" %OCRDIR%="$ref/VEXsoft/Ocr"
"$fixwise" check --codepage "$codepage" "$folder/patch"
"$wine_run" "$test_program" --gtest_filter=NativeAuthoredData.Repair \
    "--native-folder=$win_folder" --phase=repair
