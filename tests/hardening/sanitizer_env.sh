# Sourced by sanitize.sh and fuzz.sh: how the sanitizers report. Leaks are suppressed only
# inside system libraries (see tests/hardening/lsan.supp), never in our code.
_facetta_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:halt_on_error=1:abort_on_error=0:strict_string_checks=1:check_initialization_order=1:detect_stack_use_after_return=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$_facetta_root/tests/hardening/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
unset _facetta_root
