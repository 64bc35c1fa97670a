#!/usr/bin/env bash
# End-to-end test of the tool's LTTng tracing: usage lttng_test.sh OSTREL_BINARY
#
# Two sessions record while the tool fails on a bad configuration: the one
# taking TRACE_DEBUG events must receive the failure's trace line with all its
# fields, the one limited to TRACE_INFO nothing. Exits 77 (skipped) without
# LTTng, babeltrace2, or the tool's LTTng provider library.
set -u

readonly Ostrel=${1:?usage: lttng_test.sh OSTREL_BINARY}
readonly Event='OstrelTraceLoggingProvider:Message'
# babeltrace2 shows the text's newline as \n.
readonly ExpectedText='Throwing an exception, 0x80070057, expression '\
'm_Configuration.m_FrameSizeW > 0 && m_Configuration.m_FrameSizeH > 0\n'

for Tool in lttng lttng-sessiond babeltrace2; do
    command -v "$Tool" >/dev/null 2>&1 || { echo "SKIP: $Tool is not installed"; exit 77; }
done
[[ -x $Ostrel ]] || { echo "FAIL: no executable at $Ostrel"; exit 1; }
if [[ ! -e $(dirname "$Ostrel")/libostrel-lttng.so ]]; then
    echo "SKIP: the tool was built without libostrel-lttng.so"
    exit 77
fi

WorkDir=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-lttng.XXXXXX") || exit 1
# A home of our own keeps the client's current-session file and, for a user
# other than root, the session daemon apart from the user's own.
export LTTNG_HOME=$WorkDir/home
mkdir -p "$LTTNG_HOME"
readonly Debug=ostrel-e2e-$$-debug Info=ostrel-e2e-$$-info
Sessions=()
DaemonPid=

IsRunning() { # PID; a zombie has stopped
    local State
    State=$(ps -o stat= -p "$1" 2>/dev/null) && [[ $State != Z* ]]
}
Cleanup() {
    local Session
    for Session in "${Sessions[@]}"; do lttng destroy "$Session" >/dev/null 2>&1; done
    if [[ -n $DaemonPid ]]; then
        kill "$DaemonPid" 2>/dev/null
        for _ in $(seq 100); do IsRunning "$DaemonPid" || break; sleep 0.05; done
        IsRunning "$DaemonPid" && kill -KILL "$DaemonPid"
    fi
    rm -rf "$WorkDir"
}
trap Cleanup EXIT
Fail() { echo "FAIL: $*"; exit 1; }
Run() {
    local Output
    Output=$("$@" 2>&1) || { echo "$Output"; Fail "$*"; }
}

# The session daemon serving this user, else one of our own.
if ! lttng list >/dev/null 2>&1; then
    lttng-sessiond --daemonize --no-kernel || Fail "cannot start lttng-sessiond"
    PidDir=$LTTNG_HOME/.lttng
    [[ $(id -u) == 0 ]] && PidDir=/var/run/lttng
    DaemonPid=$(cat "$PidDir/lttng-sessiond.pid") || Fail "lttng-sessiond left no pid file"
fi

for Session in "$Debug:TRACE_DEBUG" "$Info:TRACE_INFO"; do
    Name=${Session%%:*}
    Run lttng create "$Name" --output="$WorkDir/$Name"
    Sessions+=("$Name")
    Run lttng enable-event --session="$Name" --userspace "$Event" --loglevel="${Session#*:}"
    Run lttng start "$Name"
done

# The tool looks whether anyone listens when it registers its provider, at
# start. LTTng registers the process with the session daemon as the provider
# library loads, and waits (up to this many milliseconds) for the enabled
# events to arrive, so sessions started before the tool are seen at once.
export LTTNG_UST_REGISTER_TIMEOUT=10000
"$Ostrel" -Resolution 0 720 "$WorkDir/out.mp4" >"$WorkDir/ostrel.log" 2>&1
Status=$?
if ((Status == 0 || Status >= 128)); then # the configuration error is a failure, a crash is not it
    cat "$WorkDir/ostrel.log"
    Fail "ostrel exited with $Status, expected a configuration error"
fi
Run lttng stop "$Debug"
Run lttng stop "$Info"

# One line per event, e.g. [...] OstrelTraceLoggingProvider:Message: { cpu_id = 0 },
# { SourceFile = "Application.cpp", SourceLine = 84, SourceFunction = "...", TextA = "...\n" }
Events() { # SESSION; nothing recorded leaves no trace folder
    [[ ! -d $WorkDir/$1 ]] || babeltrace2 "$WorkDir/$1" 2>>"$WorkDir/babeltrace.log" | grep -F "$Event:"
}

DebugEvents=$(Events "$Debug")
Line=$(grep -F 'SourceFile = "Application.cpp"' <<<"$DebugEvents" |
    grep -F 'SourceFunction = "Application::Application"' | grep -F "TextA = \"$ExpectedText\"" | head -n 1)
if [[ -z $Line ]]; then
    echo "Recorded at TRACE_DEBUG: ${DebugEvents:-nothing}"
    cat "$WorkDir/babeltrace.log" "$WorkDir/ostrel.log" 2>/dev/null
    Fail "the configuration failure was not traced"
fi
SourceLine=$(sed -n 's/.*SourceLine = \([0-9]\+\).*/\1/p' <<<"$Line")
((${SourceLine:-0} > 0)) || Fail "no source line number in: $Line"

InfoEvents=$(Events "$Info")
[[ -z $InfoEvents ]] || Fail "the TRACE_INFO session received verbose events: $InfoEvents"

echo "PASS: traced Application.cpp($SourceLine) at TRACE_DEBUG, nothing at TRACE_INFO"
