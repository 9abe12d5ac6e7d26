# Sourced by scripts/run-sim.sh and scripts/test.sh.

# say_type_change DIR TYPE: one line when DIR was configured with another build type than TYPE,
# which the configure about to run sets (a contributor's Debug build/ compiles again whole).
say_type_change() {
    local was
    was=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$1/CMakeCache.txt" 2>/dev/null) || true
    [ -z "$was" ] || [ "$was" = "$2" ] ||
        echo "$1/ was configured as $was: configuring it as $2, which compiles it again whole"
}
