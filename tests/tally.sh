# The count of failed checks that the shell tests keep, sourced by each:
# fail WHAT records one against the check named in $name, and tally ends
# the test, its status 0 only where none failed.
failures=0
fail() {
    echo "FAIL [$name]: $*"
    failures=$((failures + 1))
}
tally() {
    echo "$failures failures"
    [ "$failures" -eq 0 ]
}
