#include "fpga/fpga_globals.h"

std::atomic<uint32_t> g_change[kChangeWords];
std::atomic<uint8_t> g_send_para[kSendParaSize];
std::atomic<uint8_t> g_freeze_out{0};
QString g_qzfile_name;

uint16_t send_para_u16(int offset) {
    return uint16_t(g_send_para[offset].load() | g_send_para[offset + 1].load() << 8);
}

void set_send_para_u16(int offset, uint16_t value) {
    g_send_para[offset + 1] = uint8_t(value >> 8);
    g_send_para[offset] = uint8_t(value);
}

uint32_t send_para_u32(int offset) {
    return uint32_t(send_para_u16(offset)) | uint32_t(send_para_u16(offset + 2)) << 16;
}

void set_send_para_u32(int offset, uint32_t value) {
    set_send_para_u16(offset, uint16_t(value));
    set_send_para_u16(offset + 2, uint16_t(value >> 16));
}

void post_send_para_task(uint8_t task) {
    g_send_para[1] = 0;
    g_send_para[0] = task;
}
