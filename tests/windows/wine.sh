# Wine for the Windows tests, sourced: a private prefix and an X server of
# its own (Xvfb) in the folder $work, every call under a time limit so that
# a hang fails the test instead of blocking it. Needs $work; sets WINEPREFIX,
# DISPLAY; wine_stop ends what wine_start started.

# wine_start: 0 when Wine is ready, 77 when it is not installed.
wine_start() {
    local missing=()
    for program in wine wineserver wineboot Xvfb; do
        command -v "$program" >/dev/null || missing+=("$program")
    done
    if ((${#missing[@]})); then
        echo "skipped: ${missing[*]} not installed (scripts/setup.sh installs them)"
        return 77
    fi
    export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all
    # No Mono or Gecko installation prompts: the tool needs neither.
    export WINEDLLOVERRIDES="mscoree,mshtml="
    # The X server picks a free display and writes its number.
    Xvfb -displayfd 3 -nolisten tcp -screen 0 640x480x24 3>"$work/display" >/dev/null 2>&1 &
    xvfb_pid=$!
    local rounds=100
    until [[ -s $work/display ]]; do
        ((--rounds > 0)) || { echo "FAIL: Xvfb did not start"; return 1; }
        sleep 0.1
    done
    export DISPLAY=:$(head -1 "$work/display")
    local started=$SECONDS
    timeout -k 10 300 wineboot --init >/dev/null 2>&1 || { echo "FAIL: wineboot --init did not finish"; return 1; }
    timeout -k 10 120 wineserver --wait
    echo "wine: $(wine --version), prefix made in $((SECONDS - started)) s"
}

wine_stop() {
    [[ -n ${WINEPREFIX:-} && -d ${WINEPREFIX:-} ]] && timeout 30 wineserver --kill >/dev/null 2>&1
    [[ -n ${xvfb_pid:-} ]] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    return 0
}

# wine_run LIMIT PROGRAM ARGS...: runs a Windows program in the current
# folder, standard output in out.txt, standard error in err.txt, its exit
# status in $status (124 when it ran past LIMIT seconds).
wine_run() {
    local limit=$1
    shift
    timeout -k 10 "$limit" wine "$@" >out.txt 2>err.txt </dev/null
    status=$?
}
