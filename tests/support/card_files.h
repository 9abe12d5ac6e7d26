// Stored receiving-card configurations as the PC writes them: the packed file with its screen,
// XY and smart-debugging sub-files, and scan files.
#pragma once

#include <cstdint>
#include <vector>

#include "pc_link.h"

struct CardOp {
    uint8_t type;  // 1 write, 2 ram2flash, 3 firmware, 5 reconfig, 6 sleep, 7 search, 16 user
    uint8_t target;
    uint32_t addr;
    Bytes data;
    uint32_t ms = 200;  // acknowledgement time limit
};
struct CardNet {
    uint16_t port;
    std::vector<std::vector<CardOp>> cards;  // each card's operations
};
struct CardScreen {
    uint32_t config_id;
    std::vector<CardOp> smart;  // the screen's smart-debugging block (none: empty)
    std::vector<CardNet> nets;
};

// An operation block: count, the records, then their data (offsets from the block's start).
Bytes opBlock(const std::vector<CardOp>& ops);
// A card record (count and records); the data goes to `data`, whose first byte lies data_at
// bytes after the point the offsets count from.
Bytes opRecords(const std::vector<CardOp>& ops, uint32_t data_at, Bytes& data);
// "/QZFX": sub-files of type 10, 11 and 12.
Bytes packedFile(const std::vector<CardScreen>& screens);
// A scan file: a 16-byte head and one smart-debugging block.
Bytes scanFile(const std::vector<CardOp>& ops);
