#include "card_files.h"

namespace {

void append(Bytes& to, const Bytes& b) {
    to.insert(to.end(), b.begin(), b.end());
}

// A screen's net list: count, net records, then the nets' blocks of card records; a net
// block's offset counts from the start of the list.
Bytes netList(const std::vector<CardNet>& nets) {
    Bytes head = cat({le16(uint16_t(nets.size())), {0, 0}}), blocks;
    const uint32_t first = uint32_t(4 + 12 * nets.size());
    for (const CardNet& n : nets) {
        // The cards' records one after another, then all their data.
        uint32_t records = 0;
        for (const auto& card : n.cards) records += uint32_t(4 + 18 * card.size());
        Bytes block, data;
        for (const auto& card : n.cards) append(block, opRecords(card, records, data));
        append(block, data);
        append(head, cat({le16(n.port), le16(uint16_t(n.cards.size())),
                          le32(uint32_t(first + blocks.size())), le32(uint32_t(block.size()))}));
        append(blocks, block);
    }
    append(head, blocks);
    return head;
}

}  // namespace

Bytes opRecords(const std::vector<CardOp>& ops, uint32_t data_at, Bytes& data) {
    Bytes b = cat({le16(uint16_t(ops.size())), {0, 0}});
    for (const CardOp& op : ops) {
        append(b, cat({le32(uint32_t(data_at + data.size())),
                       le32(uint32_t(op.data.size())),
                       le32(op.addr),
                       le32(op.ms),
                       {op.type, op.target}}));
        append(data, op.data);
    }
    return b;
}

Bytes opBlock(const std::vector<CardOp>& ops) {
    Bytes data;
    Bytes b = opRecords(ops, uint32_t(4 + 18 * ops.size()), data);
    append(b, data);
    return b;
}

Bytes packedFile(const std::vector<CardScreen>& screens) {
    Bytes xy(16, 0), smart, records;
    uint32_t para_total = 0, xy_total = 0;
    for (const CardScreen& s : screens) {
        const uint32_t xy_at = uint32_t(xy.size()), smart_at = uint32_t(smart.size());
        const Bytes list = netList(s.nets);
        append(xy, list);
        const Bytes block = s.smart.empty() ? Bytes{} : opBlock(s.smart);
        append(smart, block);
        para_total += uint32_t(block.size());
        xy_total += uint32_t(list.size());
        append(records,
               cat({le32(s.config_id), le32(1), Bytes(28, 0), le32(smart_at),
                    le32(uint32_t(block.size())), le32(xy_at), le32(uint32_t(list.size()))}));
    }
    Bytes screen = cat({{0, 0, 1, 0},
                        le32(para_total),
                        le32(0),
                        le32(xy_total),
                        le32(0),
                        {uint8_t(screens.size())},
                        Bytes(11, 0)});
    append(screen, records);
    const uint32_t o10 = 4 + 3 * 12, o11 = uint32_t(o10 + screen.size()),
                   o12 = uint32_t(o11 + xy.size());
    Bytes f = {0, 0, 0, 3};
    const auto entry = [](uint8_t type, size_t len, uint32_t off) {
        return cat({{type, 0, 0, 0}, le32(uint32_t(len)), le32(off)});
    };
    append(f, entry(10, screen.size(), o10));
    append(f, entry(11, xy.size(), o11));
    append(f, entry(12, smart.size(), o12));
    append(f, screen);
    append(f, xy);
    append(f, smart);
    return f;
}

Bytes scanFile(const std::vector<CardOp>& ops) {
    Bytes f(16, 0);
    append(f, opBlock(ops));
    return f;
}
