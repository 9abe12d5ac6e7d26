# Sourced by scripts/check-locks.sh (and its test). Clang's thread-safety analysis loses a
# guarded C array once it decays to a pointer (`ram + n`, a memcpy from it) or is walked by a
# range-for; a std::array it follows through data(), operator[] and a reference. So no variable
# or data member of C-array type may carry GUARDED_BY or PT_GUARDED_BY: clang-query finds them,
# in the sources given and every header they include.

# The declarations refused, as clang-query's matcher.
guarded_array_matcher='declaratorDecl(hasType(hasCanonicalType(arrayType())),
    anyOf(hasAttr("attr::GuardedBy"), hasAttr("attr::PtGuardedBy")),
    unless(isExpansionInSystemHeader())).bind("guarded_c_array")'

# guarded_arrays ARGS...: clang-query's arguments (-p BUILD and sources, or sources, then -- and
# the compile flags). Prints each guarded C array's place once and fails when there is one, or
# when clang-query cannot parse a source.
guarded_arrays() {
    local out found
    # clang-query goes on past a source it cannot parse: its errors fail the look too.
    if ! out=$(clang-query -c 'set output diag' -c "match ${guarded_array_matcher//$'\n'/ }" \
        "$@" 2>&1) || printf '%s\n' "$out" | grep -qE '(^|: )(fatal )?error: '; then
        printf '%s\n' "$out" >&2
        echo "error: clang-query could not look for guarded C arrays" >&2
        return 2
    fi
    found=$(printf '%s\n' "$out" | sed -n 's/^\(.*:[0-9]*:[0-9]*\): note: "guarded_c_array" binds here$/\1/p' |
        sort -u)
    [ -z "$found" ] && return 0
    printf '%s: error: a guarded C array (make it a std::array under the same GUARDED_BY)\n' \
        $found >&2
    return 1
}
