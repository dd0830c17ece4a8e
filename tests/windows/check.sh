# Sourced by the scripts that compare a Windows tool with the Linux one.
# check WHAT COMMAND...: runs COMMAND; when it fails, reports WHAT and counts it in $failures.
failures=0
check() {
  local what=$1
  shift
  if ! "$@"; then
    echo "MISMATCH: $what"
    failures=$((failures + 1))
  fi
}
