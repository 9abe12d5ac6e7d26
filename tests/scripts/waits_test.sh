#!/usr/bin/env bash
# Every wait of the tests and fuzz targets (the C++ and shell files under tests/) has a bound
# that scales with the time factor, so that a loaded machine neither hangs a test nor fails it.
# Three rules, each a line of the file:
# - a fixed wait (sleep_for, sleep_until, usleep, msleep, nanosleep, qWait, qSleep; a shell's
#   `sleep N`) goes through hangMs, hangBound or hangSeconds (scaled_seconds in the scripts'
#   tests), or says `unscaled:` and why on its line;
# - a poll() waits 0 ms or a time that is not a bare number;
# - a loop that waits for a state has a bound: no key, keypad or yield as the whole body of a
#   `while (...)`, no empty body, and no `for (;;)`, `for (x;;`, `while (true)` or `while (1)`
#   unless its line says `bounded:` and what bounds it.
# It checks the clone's tests/, then planted files that break each rule and files that keep them.
# Usage: tests/scripts/waits_test.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/lib/usage.sh
check_options tests/scripts/waits_test.sh -- "$@"
source tests/scripts/common.sh
scripts_test waits "the tests' waits"

# unbounded_waits DIR: each line of the C++ and shell files under DIR that breaks a rule, as
# "FILE:LINE: TEXT"; nothing when all keep them. A marker counts on the line or the one above
# (a comment, or the loop's opening line).
unbounded_waits() {
    # This test's own planted lines are not waits.
    find "$1" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.sh' \) ! -name waits_test.sh \
        -print0 | sort -z |
        xargs -0 -r awk '
        FNR == 1 { above = "" }
        {
            marks = above " " $0
            sh = FILENAME ~ /\.sh$/
            bad = 0
            if (marks !~ /unscaled: / && $0 !~ /hangMs|hangBound|hangSeconds|scaled_seconds/) {
                if (!sh && $0 ~ /(sleep_for|sleep_until|usleep|msleep|nanosleep|qWait|qSleep) *\(/)
                    bad = 1
                if (sh && $0 ~ /(^|[;&|({ ])sleep +[0-9.]/) bad = 1
                if (!sh && $0 ~ /poll *\([^()]*(\([^()]*\)[^()]*)*, *-?[0-9]+ *\)/ &&
                    $0 !~ /poll *\([^()]*(\([^()]*\)[^()]*)*, *0 *\)/)
                    bad = 1
            }
            if (!sh && marks !~ /bounded: / &&
                ($0 ~ /while *\(.*\) *(key|keys|pressKeypad|click|touch|(std::this_thread::)?yield) *\(/ ||
                 $0 ~ /while *\(.*\) *\{ *\}/ || $0 ~ /for *\([^;]*; *;/ ||
                 $0 ~ /while *\( *(true|1) *\)/))
                bad = 1
            if (bad) print FILENAME ":" FNR ": " $0
            above = $0
        }'
}

unbounded_waits tests >"$tmp/out"
[ ! -s "$tmp/out" ] || failed "waits without a scaled bound in tests/ (below)"

# Each planted file breaks one rule once; each kept file breaks none.
plant=$tmp/tests
mkdir -p "$plant"
p() { printf '%s\n' "$2" >"$plant/$1"; }
p sleep_for.cpp '    std::this_thread::sleep_for(std::chrono::milliseconds(300));'
p usleep.cpp '        ::usleep(2000);'
p qwait.cpp '    QTest::qWait(100);'
p shell_sleep.sh 'for i in 1 2; do sleep 0.5; done'
p poll.cpp '    if (::poll(&p, 1, 2000) != 1) return;'
p poll_forever.cpp '        if (::poll(p, 2, -1) < 0) return;'
p key_loop.cpp '                 while (g_smartmapping) key(kKeyBack);'
p keypad_loop.cpp '    while (!g_numberkeyboard->text().isEmpty()) pressKeypad(kDelete);'
p spin.cpp '    while (served == 0) std::this_thread::yield();'
p empty_body.cpp '    while (!ready.load()) {}'
p forever.cpp '    for (;;) {'
p counting_forever.cpp '    for (uint8_t v = 0;; ++v) {'
p while_true.cpp '    while (true) {'
p kept.cpp '    std::this_thread::sleep_for(hangBound(std::chrono::milliseconds(300)));
    if (::poll(&p, 1, hangMs(2000)) != 1) return;
    if (::poll(&p, 1, 0) != 0) return;
    ::poll(&p, 1, ms);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // unscaled: a pause, bounded above
    for (;;) {  // bounded: each turn reads a byte of a finite input
    keyUntil(kKeyRight, [] { return true; }, "anywhere");
    do {
    } while (more);'
p kept.sh 'sleep 0.1  # unscaled: a pause between polls of a scaled wait
timeout "$(scaled_seconds 5)" true'

planted=$(unbounded_waits "$plant")
for f in "$plant"/*; do
    name=${f#"$plant"/}
    hits=$(grep -c "^$f:" <<<"$planted" || true)
    case $name in
    kept.*) [ "$hits" = 0 ] || failed "$name keeps the rules, yet: $planted" ;;
    *) [ "$hits" = 1 ] || failed "$name breaks a rule once, found $hits times: $planted" ;;
    esac
done
echo "passed: the tests' waits"
