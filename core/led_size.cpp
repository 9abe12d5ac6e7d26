#include "core/led_size.h"

#include <cstdio>

#include "core/globals.h"
#include "core/zem_ram_para.h"

namespace led_size {

bool allowed(const ZemRamPara& ram) {
    return allowed(ram.rd16(kRamSplice), ram.rd16(kRamWidth), ram.rd16(kRamHeight),
                   ram.rd16(kRamOut1Width), ram.rd16(kRamOut1Height));
}

bool refuse(ZemRamPara* ram, const std::function<uint16_t(int)>& last, const char* who) {
    if (allowed(*ram)) return false;
    bool changed = false;
    for (int a : kRamWords) changed = changed || ram->rd16(a) != last(a);
    if (!changed) return false;
    char line[192];
    std::snprintf(line, sizeof line,
                  "%s: LED size %u x %u (splice %u, output 1 %u x %u) refused; back to %u x %u",
                  who, unsigned(ram->rd16(kRamWidth)), unsigned(ram->rd16(kRamHeight)),
                  unsigned(ram->rd16(kRamSplice)), unsigned(ram->rd16(kRamOut1Width)),
                  unsigned(ram->rd16(kRamOut1Height)), unsigned(last(kRamWidth)),
                  unsigned(last(kRamHeight)));
    for (int a : kRamWords) ram->wr16_no_gen_bump(a, last(a));
    writeLogMsg(1, "LED size refused", line);
    return true;
}

bool take_or_refuse(ZemRamPara* ram, const char* who) {
    const bool refused = refuse(
        ram,
        [ram](int addr) REQUIRES(c331_manage::c331_mutex) { return ram->led_in_force16(addr); },
        who);
    // Refused, the words are the set in force again, whose offset a PC may have moved.
    ram->take_led_in_force();
    return refused;
}

}  // namespace led_size
