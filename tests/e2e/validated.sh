#!/usr/bin/env bash
# Runs one command under the Khronos validation layer, with synchronization
# validation, and fails on any message the layer reports (errors, warnings
# and performance warnings alike):
#
#   validated.sh [--output FILE] COMMAND [ARGS...]
#
# The command runs in a folder of its own; with --output it must leave FILE
# there, not empty. Exits 77 (skipped) when the layer is not installed,
# unless OSTREL_REQUIRE_VALIDATION is set (the CI script sets it), in which
# case a missing layer fails.
set -u
output=
if [[ ${1:-} == --output ]]; then
    output=${2:?usage: validated.sh [--output FILE] COMMAND [ARGS...]}
    shift 2
fi
(($# > 0)) || { echo "usage: validated.sh [--output FILE] COMMAND [ARGS...]"; exit 2; }
command=$(realpath "$1")
shift

manifest=
for folder in /usr/share/vulkan/explicit_layer.d /usr/local/share/vulkan/explicit_layer.d /etc/vulkan/explicit_layer.d; do
    [[ -e $folder/VkLayer_khronos_validation.json ]] && manifest=$folder/VkLayer_khronos_validation.json
done
if [[ -z $manifest ]]; then
    if [[ -n ${OSTREL_REQUIRE_VALIDATION:-} ]]; then
        echo "FAIL: the Khronos validation layer is not installed (vulkan-validationlayers)"
        exit 1
    fi
    echo "SKIP: the Khronos validation layer is not installed (vulkan-validationlayers)"
    exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-validated.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
cat >"$work/vk_layer_settings.txt" <<EOF
khronos_validation.debug_action = VK_DBG_LAYER_ACTION_LOG_MSG
khronos_validation.log_filename = $work/messages.txt
khronos_validation.report_flags = error,warn,perf
khronos_validation.enables = VK_VALIDATION_FEATURE_ENABLE_SYNCHRONIZATION_VALIDATION_EXT
khronos_validation.enable_message_limit = false
EOF

mkdir "$work/run"
(
    cd "$work/run" &&
        VK_LAYER_SETTINGS_PATH=$work/vk_layer_settings.txt VK_INSTANCE_LAYERS=VK_LAYER_KHRONOS_validation \
            VK_LOADER_DEBUG=layer timeout 600 "$command" "$@" 2>"$work/stderr.txt"
)
status=$?
# The loader's own report shows that the layer really sat between the
# program and the driver; without it, no messages would prove nothing.
grep -v '^[A-Z]* | LAYER:\|^LAYER:\|^ *\[\|^$' "$work/stderr.txt" >&2
failed=0
if [[ $status != 0 ]]; then
    echo "FAIL: $(basename "$command") exited with $status"
    failed=1
fi
if ! grep -q 'Insert.*layer "VK_LAYER_KHRONOS_validation"' "$work/stderr.txt"; then
    echo "FAIL: the validation layer was not loaded"
    failed=1
fi
if [[ -s $work/messages.txt ]]; then
    echo "FAIL: the validation layer reported $(grep -c '^[A-Z].*msgNum' "$work/messages.txt") messages:"
    grep -o '\[ [A-Za-z0-9_-]* \]' "$work/messages.txt" | sort | uniq -c
    head -c 8000 "$work/messages.txt"
    failed=1
fi
if [[ -n $output && ! -s $work/run/$output ]]; then
    echo "FAIL: no $output was written"
    failed=1
fi
((failed)) && exit 1
echo "ok: $(basename "$command") $* ran clean under the validation layer with synchronization validation"
