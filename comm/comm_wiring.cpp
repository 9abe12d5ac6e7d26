// The hooks of the box: calls into the FPGA and video-processor managers that exist at start.
#include <cstring>
#include <utility>

#include "c331/c331_manage.h"
#include "comm/comm_hooks.h"
#include "fpga/fpga_manage.h"

namespace {

static_assert(comm_hooks::kNotSentByRule == fpga_manage::kNotSentByRule,
              "the pass-through's results are the hook's");

void wire_fpga(comm_hooks& h, fpga_manage* f) {
    h.table_read = [f](int fn, int fpga, uint32_t off, uint8_t* out, uint32_t n) {
        return f->pc_read_table(fn, fpga, off, out, n);
    };
    h.table_write = [f](int fn, int fpga, uint32_t off, const uint8_t* data, uint32_t n) {
        return f->pc_write_table(fn, fpga, off, data, n);
    };
    h.fpgas_running = [f] {
        zem::MutexLocker lock(f->mirror_mutex);
        return f->reg_mirror[0][80] == 3 && f->reg_mirror[1][80] == 3;
    };
    h.irq_mutex = &f->irq_mutex;
    h.pc_to_eth = [f](uint32_t n, uint8_t* frame, comm_hooks::AnswerFn answer,
                      comm_hooks::CardWindow& window) REQUIRES(f->irq_mutex) {
        return f->Dealwith1_PC_to_eth(n, frame, std::move(answer), window.length,
                                      &window.quiet_until);
    };
    h.poll_cards = [f]() REQUIRES(f->irq_mutex) {
        f->reg_IRQ_Dealwith(0, 0);
        f->reg_IRQ_Dealwith(1, 0);
    };
    h.card_total = [f] { return uint32_t(f->total_card_count.load()); };
    h.record_timing = [f] { f->clock_record.dealwith_record_timing(); };
    h.run_time = [f](uint8_t* out, uint32_t cap) { return f->clock_record.pc_record(out, cap); };
}

void wire_c331(comm_hooks& h, c331_manage* c) {
    h.erase_flash = [c](uint32_t first_unit, uint32_t count, uint8_t kind) {
        return c->erase_flash(c->fd, first_unit, count, kind);
    };
    h.write_flash = [c](uint32_t addr, uint32_t len, const uint8_t* data) {
        return c->write_flash(c->fd, addr, len, data);
    };
    h.read_flash = [c](uint32_t addr, uint32_t len, uint8_t* out) {
        return c->read_flash(c->fd, addr, len, out);
    };
    h.c331_print = [c] { c->c331_print(); };
    h.update_font = [c] {
        const int rc = c->read_c331_font(c->fd);
        const int loaded = c->update_font(c->fd);
        return rc != 0 ? rc : loaded;
    };
}

}  // namespace

// Only the subsystems that exist when the links start are reached; a hook left empty answers
// that it is unavailable.
void comm_hooks::wire() {
    comm_hooks& h = get();
    if (fpga_manage::p_fpga_manage) wire_fpga(h, fpga_manage::p_fpga_manage);
    if (c331_manage::p_c331_manage) wire_c331(h, c331_manage::p_c331_manage);
}
