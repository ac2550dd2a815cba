# Shared by the tools' dialogue scripts (sourced): counts checks and compares whole screens.
# The script sets `tool` (the program) and, to keep its standard error apart, `run_stderr`.
passed=0
failed=0

# run <name> <expected screen text> <answer lines...>: the answers on standard input, the exact
# screen text and exit status 0.
run() {
  local name="$1" want="$2"
  shift 2
  local got
  got="$(printf '%s\n' "$@" | "$tool" 2>"${run_stderr:-/dev/stderr}"; echo "[status $?]")"
  if [ "$got" = "$want[status 0]" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAIL %s\n  want: %q\n  got:  %q\n' "$name" "$want[status 0]" "$got"
  fi
}

# check <name> <command...>: a condition on what the tool left behind.
check() {
  local name="$1"
  shift
  if "$@" >/dev/null 2>&1; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL $name"
  fi
}

# finish: the summary line; the script's status is whether every check passed.
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
