#include "video_io/raviksource.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <system_error>

#include "c331/c331_manage.h"
#include "core/console.h"
#include "core/globals.h"
#include "core/singleton.h"
#include "core/utils.h"
#include "core/zem_ram_para.h"
#include "platform/box.h"
#include "platform/clock.h"
#include "platform/thread_name.h"

raviksource* raviksource::p_ravik_source = nullptr;
std::atomic<uint8_t> edid_ram_table_from[6];

namespace {

constexpr int kPassMs = 100;  // receivers are polled this often

// The record the video processor takes for a receiver's snapshot; a receiver without video
// gives a record with its timing cleared and nosignal set.
SOURCE_HDMI_INFO recordFromRegs(int source, const ReceiverRegs& regs) {
    SOURCE_HDMI_INFO r{};
    r.type = source >= 4 ? 1 : 0;
    r.stable = 1;
    if (!regs.videoOn()) {
        r.nosignal = 1;
        return r;
    }
    int* words[10] = {&r.Hact, &r.Hsync, &r.Hback, &r.Hpol, &r.Htotal,
                      &r.Vact, &r.Vsync, &r.Vback, &r.Vpol, &r.Vtotal};
    for (int i = 0; i < 10; ++i) *words[i] = regs.timing[i];
    r.pfreq = float(regs.pclk_khz) / 1000.0f;
    r.datamode = regs.yuv() ? 1 : 0;
    r.lane = regs.lanes;
    r.ip = regs.interlaced() ? 1 : 0;
    return r;
}

SOURCE_HDMI_INFO noSignalRecord(int source) {
    return recordFromRegs(source, ReceiverRegs{});
}

// Frame width, height and rate of a record with a signal, as the panel and the PC read them.
void frameOf(const SOURCE_HDMI_INFO& r, uint16_t& w, uint16_t& h, uint16_t& rate) {
    w = h = rate = 0;
    if (r.nosignal || r.Htotal <= 0 || r.Vtotal <= 0) return;
    w = uint16_t(r.Hact);
    h = uint16_t(r.ip ? r.Vact * 2 : r.Vact);
    rate = uint16_t(std::lround(double(r.pfreq) * 1e6 / (double(r.Htotal) * r.Vtotal)));
}

}  // namespace

raviksource::raviksource() {
    for (int s = 0; s < kSources; ++s) {
        hdminfo[s] = noSignalRecord(s);
        hdminfo[s].stable = 0;
        edid_rewrite[s] = 0;
        edid_written[s] = 0;
        receiver_errors[s] = 0;
    }
    for (auto& f : fpga_board_state) f = 0;
}

zem::Mutex& raviksource::c331_mutex() {
    return c331_manage::c331_mutex;
}

void raviksource::raise_c331_apply() {
    c331_manage::raise_apply(1);
}

raviksource* raviksource::pInstance() {
    if (!p_ravik_source) p_ravik_source = new raviksource;
    return p_ravik_source;
}

int raviksource::initialize() {
    if (thread_.joinable()) return 0;  // started once
    para_ = ZemRamPara::pInstance();
    int rc = platform::openI2cBus(platform::kI2cNode, bus_);
    if (rc != 0) {
        console::errf("source: %s did not open (%d), inputs stay off\n", platform::kI2cNode, rc);
        writeLogMsg(1, "i2c bus open failed");
    }
    rc = platform::openSocWindow(platform::SocWindowKind::Pads, pads_);
    if (rc != 0) console::errf("source: pad window did not open (%d)\n", rc);
    check_source_mask = Utils::configValue(&g_check_source) & 0x3F;
    queueUploadedTables();
    {
        zem::MutexLocker lock(wait_mutex_);
        stop_ = false;  // a thread stopped by stop() can be started again
    }
    try {
        thread_ = std::thread([this] { checksourceThread(); });
        platform::nameThread(thread_, "source");
    } catch (const std::system_error&) {
        writeLogMsg(1, "create check source thread failed");
        return 255;
    }
    return 0;
}

void raviksource::shutdown() {
    release_singleton(p_ravik_source);
}

void raviksource::stop() {
    {
        zem::MutexLocker lock(wait_mutex_);
        stop_ = true;
    }
    wait_cv_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void raviksource::checksourceThread() {
    powerInputs();
    probeTransmitters();
    for (;;) {
        bringUpBoards();
        pollReceivers();
        if (!eeproms_checked_) checkEeproms();
        edidPass();
        audioPass();
        update_vid_info_delay();
        zem::MutexLocker lock(wait_mutex_);
        if (wait_cv_.wait_for(lock, std::chrono::milliseconds(kPassMs),
                              [this]() REQUIRES(wait_mutex_) { return stop_; })) {
            return;
        }
    }
}

void raviksource::powerInputs() {
    if (!pads_) return;
    for (uint32_t line : {kPowerA, kPowerB, kLineC, kLineD}) pads_->write16(line, kPadHigh);
}

void raviksource::pollReceivers() {
    for (int s = 0; s < kSources; ++s) {
        if (check_source_mask & (1u << s)) pollReceiver(s);
    }
}

void raviksource::pollReceiver(int s) {
    ReceiverRegs regs;
    const int rc = bus_ ? ReceiverLink::read(*bus_, s, regs) : -ENODEV;
    ReceiverLink& link = link_[s];
    if (rc != 0) {
        ++receiver_errors[s];
        if (link.failures == 0) {
            ZEM_DEBUG("source %d: receiver read failed (%d)\n", s, rc);
            writeLogMsg(2, "receiver read failed");
        }
    }
    const ReceiverLink::Change change = link.update(rc, regs);
    if (s >= 4 && (rc == 0 || change == ReceiverLink::Change::VideoOff)) {
        // A receiver given up on leaves an empty snapshot (regs after a failed read), so the
        // debug recompute can't bring its last video back.
        zem::MutexLocker lock(Utils::_source_hdminfo_mutex);
        ite6805_sys[5 - s] = regs;
    }
    if (change == ReceiverLink::Change::None) return;
    const bool on = change == ReceiverLink::Change::VideoOn;
    ZEM_DEBUG("source %d: video %s\n", s, on ? "on" : "off");
    publish(s, on ? recordFromRegs(s, regs) : noSignalRecord(s));
    // The first video anywhere is step 1 of the light-up; any later change drops a stable
    // path back to 1 so the timings are published again.
    uint32_t online = g_source_online.load();
    if (online == 0 && on) g_source_online.compare_exchange_strong(online, 1);
    if (online == 2) g_source_online.compare_exchange_strong(online, 1);
}

void raviksource::publish(int s, const SOURCE_HDMI_INFO& rec) {
    zem::MutexLocker lock(Utils::_source_hdminfo_mutex);
    hdminfo[s] = rec;
    hdminfo[s].stable = 1;
}

void raviksource::update_vid_info_delay() {
    if (g_source_online.load() != 1 || !g_fpga_lcd_on.load() || !g_c331_source_online.load()) {
        return;
    }
    g_source_online = 2;
    SOURCE_HDMI_INFO recs[kSources];
    {
        zem::MutexLocker lock(Utils::_source_hdminfo_mutex);
        for (int s = 0; s < kSources; ++s) recs[s] = hdminfo[s];
    }
    if (!para_) return;
    {
        // An input without signal gets zeros, so no stale timing looks like a live input.
        zem::MutexLocker lock(para_->mutex);
        for (int s = 0; s < kSources; ++s) {
            uint16_t w, h, rate;
            frameOf(recs[s], w, h, rate);
            para_->set_timing16(kTimingRam + 6 * s, w);
            para_->set_timing16(kTimingRam + 6 * s + 2, h);
            para_->set_timing16(kTimingRam + 6 * s + 4, rate);
        }
    }
    ZEM_DEBUG("source: video path stable, input timings published\n");
    para_->test_signal(12);
}

void raviksource::iTE6805_Get_Hdmi(int idx) {
    if (idx < 0 || idx > 1) return;
    const int dev = 5 - idx;
    SOURCE_HDMI_INFO r;
    {
        zem::MutexLocker lock(Utils::_source_hdminfo_mutex);
        r = recordFromRegs(dev, ite6805_sys[idx]);
        hdminfo[dev] = r;
    }
    console::outf("[iTE6805_Get_Hdmi] dev_id:%d, idx:%d\n", dev, idx);
    console::outf("\t Hact   :%d\n\t Hsync  :%d\n\t Hback  :%d\n\t Hpol   :%d\n\t Htotal :%d\n",
                  r.Hact, r.Hsync, r.Hback, r.Hpol, r.Htotal);
    console::outf("\t Vact   :%d\n\t Vsync  :%d\n\t Vback  :%d\n\t Vpol   :%d\n\t Vtotal :%d\n",
                  r.Vact, r.Vsync, r.Vback, r.Vpol, r.Vtotal);
    console::outf("\t PCLK   :%f\n\t TYPE   :%s\n\t DATAMOD:%s\n\t Lanes  :%d\n\t IP     :%s\n",
                  double(r.pfreq), r.type ? "IT6807" : "IT6602", r.datamode ? "DDR" : "SDR", r.lane,
                  r.ip ? "Interlaced" : "Progressive");
    console::outf("\t signal :%s\n", r.nosignal ? "No signal" : "Normal");
}

void raviksource::setStatusBit(int byte, uint8_t bit, bool on) {
    if (!para_) return;
    zem::MutexLocker lock(para_->mutex);
    if (on) {
        para_->status[byte] = uint8_t(para_->status[byte] | bit);
    } else {
        para_->status[byte] = uint8_t(para_->status[byte] & ~bit);
    }
}
