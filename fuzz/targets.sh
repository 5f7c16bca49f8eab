# The fuzz targets and how long an input each one gets; sourced by scripts/fuzz-ci and bench/fuzz-long.
# shellcheck shell=bash
FUZZ_TARGETS=(imap_response body_structure mail_message range_number settings)

fuzz_max_len() {
  case "$1" in
    imap_response) echo 8192 ;;   # a few responses with a message-sized literal
    body_structure) echo 4096 ;;  # a deeply nested structure, or a header and a few parts
    mail_message) echo 16384 ;;   # a multipart message with several encoded parts
    range_number) echo 256 ;;     # what fits in the range dialog's text boxes, and then some
    settings) echo 4096 ;;        # a settings file many times the size of the real one
    *) echo "unknown fuzz target: $1" >&2; return 1 ;;
  esac
}

# The target's dictionary of format words, when it has one (paths relative to the source root).
fuzz_dict_option() {
  if [ -f "fuzz/$1.dict" ]; then echo "-dict=fuzz/$1.dict"; fi
}

# Sanitizer settings for every run: undefined behaviour stops the run, leaks are reported, and only
# the reviewed library noise in fuzz/lsan.supp is suppressed.
fuzz_environment() {
  local root="$1"
  export ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1"
  export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
  export LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp:print_suppressions=1"
  export LC_ALL=C.UTF-8
  export QT_QPA_PLATFORM=offscreen
}
