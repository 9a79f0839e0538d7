# Shell helpers shared by the test, demonstration, benchmark and window-test
# scripts. Source it: . "$top/tools/fwenv.sh"

# fw_wine_env PREFIX: the environment every Wine program of ours runs in:
# the given prefix, no debug output, no .NET/HTML engines, no menu builder.
fw_wine_env() {
    WINEPREFIX=$1
    WINEDEBUG=-all
    WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d'
    export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
}

# fw_start_xvfb [FIRST]: starts a private Xvfb on the first free display
# number from FIRST (default 100) and exports DISPLAY; fw_xvfb_pid names the
# server, for the caller to end. A display that is already locked is never
# taken over.
fw_start_xvfb() {
    n=${1:-100}
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    fw_xvfb_pid=$!
    DISPLAY=":$n"
    export DISPLAY
    sleep 1
}

# fw_script_start CLEANUP: the start of a script test. When the script ends
# (also on a signal) the function CLEANUP runs, then a private Xvfb ends; the
# Xvfb is started here when no display is set.
fw_script_start() {
    fw_xvfb_pid=""
    trap "$1; fw_stop_xvfb" EXIT
    trap 'exit 130' INT TERM HUP PIPE
    [ -n "${DISPLAY:-}" ] || fw_start_xvfb
}
fw_stop_xvfb() {
    [ -z "$fw_xvfb_pid" ] || kill "$fw_xvfb_pid" 2>/dev/null
}

# Outcomes of a script test, one line each: fw_pass TEXT, fw_fail TEXT. A
# failure sets fw_status to 1; the script ends with exit $fw_status.
fw_status=0
fw_pass() { echo "ok   $1"; }
# fw_expect DESCRIPTION TEXT PATTERN: passes when TEXT holds the fixed string
# PATTERN, else fails and shows TEXT.
fw_expect() {
    if printf '%s' "$2" | grep -qF -- "$3"; then fw_pass "$1"; else
        fw_fail "$1: wanted \"$3\" in:"
        printf '%s\n' "$2" | sed 's/^/     /'
    fi
}
fw_fail() {
    echo "FAIL $1"
    fw_status=1
}

# fw_runs_32bit: true when this machine can start Wine's 32-bit loader (a
# kernel without 32-bit x86 support refuses it: "Exec format error").
fw_runs_32bit() {
    [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}
