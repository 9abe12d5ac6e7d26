#include "core/utils.h"

#include <QDateTime>
#include <limits>

#include "core/globals.h"
#include "platform/shell.h"

zem::Mutex Utils::_system_mutex;
zem::Mutex Utils::_usleep_mutex;
zem::Mutex Utils::_led_para_init_mutex;
zem::Mutex Utils::_spi_mutex;
zem::Mutex Utils::_fpga_multicast_mutex;
zem::Mutex Utils::_c331_bnk_mutex;
zem::Mutex Utils::_file_deal_mutex;
zem::Mutex Utils::_source_init_mutex;
zem::Mutex Utils::_check_nosig_mutex;
zem::Mutex Utils::_source_hdminfo_mutex;
zem::Mutex Utils::_test_signal_mutex;
zem::Mutex Utils::_config_mutex;

uint8_t Utils::BCC(const uint8_t* data, uint32_t len) {
    uint8_t x = 0;
    for (uint32_t i = 0; i < len; ++i) x ^= data[i];
    return x;
}

namespace {

bool bcd_field(uint8_t v, int lo, int hi, int& out) {
    if ((v >> 4) > 9 || (v & 0xF) > 9) return false;
    out = (v >> 4) * 10 + (v & 0xF);
    return out >= lo && out <= hi;
}

}  // namespace

bool Utils::clock_from_bcd(const BcdClock& in, ClockValue& out) {
    int century = 0, year = 0;
    if (!bcd_field(in.century, 19, 99, century) || !bcd_field(in.year, 0, 99, year) ||
        !bcd_field(in.month, 1, 12, out.month) || !bcd_field(in.day, 1, 31, out.day) ||
        !bcd_field(in.hour, 0, 23, out.hour) || !bcd_field(in.minute, 0, 59, out.minute) ||
        !bcd_field(in.second, 0, 59, out.second))
        return false;
    out.year = century * 100 + year;
    const QDateTime t(QDate(out.year, out.month, out.day), QTime(out.hour, out.minute, out.second),
                      Qt::UTC);
    return t.isValid() && t.toSecsSinceEpoch() >= 0 &&
           t.toSecsSinceEpoch() <= std::numeric_limits<int32_t>::max();
}

int Utils::system_mutex(const QString& cmd, int* status) {
    const QByteArray text = cmd.toLatin1();
    int rc;
    {
        zem::MutexLocker lock(_system_mutex);
        rc = platform::shell().run(text.toStdString());
    }
    if (status) *status = rc;
    return rc == 0 ? 0 : 255;
}

std::string Utils::shell_exec(const char* cmd, int n) {
    (void)n;  // the line buffer only splits long lines; the text is the same
    std::string out;
    if (!cmd || platform::shell().capture(cmd, out) < 0) return {};
    return out;
}

uint32_t Utils::getTimeSpace(uint32_t start) {
    const uint32_t now = G_timeTicks;
    if (now >= start) return now - start;
    return now - start - 1;  // wrapped
}
