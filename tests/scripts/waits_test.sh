#!/usr/bin/env bash
# Every wait of the tests and fuzz targets (the C++ and shell files under tests/) has a bound
# that scales with the time factor, so that a loaded machine neither hangs a test nor fails it.
# Three rules, each a line of the file:
# - a fixed wait (sleep_for, sleep_until, usleep, msleep, nanosleep, qWait, qSleep; a shell's
#   `sleep N`) goes through hangMs, hangBound or hangSeconds (scaled_seconds in the scripts'
#   tests), or says `unscaled:` and why on its line;
# - a poll() waits 0 ms or a time that is not a bare number, and a wait_for or try_lock_for
#   no literal time but 0;
# - a loop that waits for a state has a bound: no key, keypad or yield as the whole body of a
#   `while (...)`, no empty body, and no `for (;;)`, `for (x;;`, `while (true)` or `while (1)`,
#   nor a `for` whose condition names nothing its step counts (`for (r = 0; !done; ++r)`: it
#   ends on a state, not on the count), nor a `while` that asks or reads a link in its condition
#   (it ends on an answer or on silence), unless its line says `bounded:` and what bounds it.
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
        # Whether word w stands in text t.
        function names(t, w) {
            return t ~ ("(^|[^A-Za-z0-9_])" w "([^A-Za-z0-9_]|$)")
        }
        # Whether the line opens a for loop whose condition names none of what its step changes
        # (++i, i--, i += 2, it = next): a loop that ends on a state. One with no condition, or
        # with a step that changes nothing by name, is left to the other rules.
        function state_for(line,    n, part, cond, step, w, seen) {
            if (!match(line, /(^|[^A-Za-z0-9_])for *\(/)) return 0
            n = split(substr(line, RSTART + RLENGTH), part, ";")
            if (n < 3 || part[2] ~ /^ *$/) return 0
            cond = part[2]
            step = part[3]
            sub(/\).*/, "", step)
            seen = 0
            while (match(step, /(\+\+|--) *[A-Za-z_][A-Za-z0-9_]*|[A-Za-z_][A-Za-z0-9_]* *(\+\+|--|[-+*\/]?=)/)) {
                w = substr(step, RSTART, RLENGTH)
                step = substr(step, RSTART + RLENGTH)
                match(w, /[A-Za-z_][A-Za-z0-9_]*/)
                w = substr(w, RSTART, RLENGTH)
                seen = 1
                if (names(cond, w)) return 0
            }
            return seen
        }
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
                if (!sh && $0 ~ /(wait_for|try_lock_for) *\(/ &&
                    ($0 ~ /(seconds|minutes|hours) *\( *[0-9.]*[1-9]/ ||
                     $0 ~ /[^A-Za-z0-9_.][0-9.]*[1-9][0-9]*(ms|s|us|ns|min|h)([^A-Za-z0-9_]|$)/))
                    bad = 1
            }
            if (!sh && marks !~ /bounded: / &&
                ($0 ~ /while *\(.*\) *(key|keys|pressKeypad|click|touch|(std::this_thread::)?yield) *\(/ ||
                 $0 ~ /while *\(.*\) *\{ *\}/ || $0 ~ /for *\([^;]*; *;/ ||
                 $0 ~ /while *\( *(true|1) *\)/ || $0 ~ /while *\(.*[^A-Za-z0-9_](recv|ask) *\(/ ||
                 state_for($0)))
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
p wait_for.cpp '    EXPECT_EQ(step.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);'
p wait_for_literal.cpp '        cv.wait_for(lock, 50ms, [&] { return ready; });'
p state_for.cpp '    for (int r = 0, after = 0; after < 2; ++r) {'
p recv_loop.cpp '    while (link.recv(extra, 3 * kBoxWaitMs)) t.count(Verdict::Late);'
p ask_loop.cpp '            while ((s = status(link.ask(start))) == 1) {'
p state_for_stop.cpp '            for (int i = 0; !stop; ++i) write(i % 2 ? b : a);'
p kept.cpp '    std::this_thread::sleep_for(hangBound(std::chrono::milliseconds(300)));
    if (::poll(&p, 1, hangMs(2000)) != 1) return;
    if (::poll(&p, 1, 0) != 0) return;
    ::poll(&p, 1, ms);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // unscaled: a pause, bounded above
    for (;;) {  // bounded: each turn reads a byte of a finite input
    keyUntil(kKeyRight, [] { return true; }, "anywhere");
    do {
    } while (more);
    EXPECT_EQ(call.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
    ASSERT_EQ(call.wait_for(hangBound(std::chrono::seconds(10))), std::future_status::ready);
    for (int i = 0; i < kMaxExtra && link.recv(extra, 300); ++i) count();
    for (auto it = m.begin(); it != m.end(); it = m.erase(it)) {
    for (size_t i = 0, j = n; i < j; i += 2, --j) {
    for (int fd; (fd = ::socket(AF_INET, SOCK_STREAM, 0)) >= 0;) fill.push_back(fd);
    for (const auto& [key, value] : table) {
    while (!reply.empty()) reply = next(reply);
    // bounded: the keys below end it.
    for (int i = 0; !stop; ++i) write(i % 2 ? b : a);'
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
