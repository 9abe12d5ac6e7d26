// Raw flash erase, write and read-back of the file transfer ("/dev/mtd8", "/dev/mtd10").
#include <cstring>
#include <vector>

#include "core/globals.h"
#include "core/utils.h"

namespace {

// The geometry, or false (logged) when it cannot be read or its unit (erase or write size)
// is 0, which the block arithmetic would divide by.
bool readGeometry(platform::MtdPartition& mtd, platform::MtdInfo& info,
                  uint32_t platform::MtdInfo::*unit) {
    const int rc = mtd.info(info);
    if (rc != 0) {
        ZEM_DEBUG("\n MTD MEMGETINFO failed %d \n", rc);
        writeLogMsg(1, "MTD: device information unreadable");
        return false;
    }
    if (info.*unit == 0) {
        ZEM_DEBUG("\n MTD device reports an erase or write size of 0 \n");
        writeLogMsg(1, "MTD: device reports a zero erase or write size");
        return false;
    }
    return true;
}

// start + length within the partition, in the form that cannot wrap.
bool fits(const platform::MtdInfo& info, uint64_t start, uint64_t length) {
    return start <= info.size && length <= info.size - start;
}

}  // namespace

int Utils::non_region_erase(platform::MtdPartition& mtd, uint32_t start, uint32_t length,
                            int unlock) {
    platform::MtdInfo info;
    if (!readGeometry(mtd, info, &platform::MtdInfo::erasesize)) return 9;
    const uint32_t es = info.erasesize;
    const uint64_t blocks = (uint64_t(length) + es - 1) / es;
    if (!fits(info, start, blocks * es)) {
        ZEM_DEBUG("\n erase of %u blocks at 0x%x passes the end 0x%x \n", unsigned(blocks), start,
                  info.size);
        writeLogMsg(1, "MTD: erase area passes the partition's end");
        return 9;
    }
    ZEM_DEBUG("\r\nPerforming Flash Erase of length %u at offset 0x%x\n", es, start);
    for (uint64_t i = 0; i < blocks; ++i, start += es) {
        if ((unlock && mtd.unlock(start, es) != 0) || mtd.erase(start, es) != 0) {
            ZEM_DEBUG("\n MTD erase refused at 0x%x \n", start);
            writeLogMsg(1, "MTD: unlock or erase refused");
            mtd.close();
            return 8;
        }
    }
    return 0;
}

int Utils::non_region_write(platform::MtdPartition& mtd, const uint8_t* data, uint32_t size,
                            uint32_t offset) {
    platform::MtdInfo info;
    if (!readGeometry(mtd, info, &platform::MtdInfo::writesize)) return 1;
    if (!fits(info, offset, size) || (size != 0 && data == nullptr)) {
        ZEM_DEBUG("\n write of %#x bytes at %#x passes the end %#x \n", size, offset, info.size);
        writeLogMsg(1, "MTD: write area passes the partition's end");
        return 1;
    }
    const uint32_t ws = info.writesize;
    const uint32_t pages = size / ws;
    for (uint32_t i = 0; i < pages; ++i, offset += ws, data += ws) {
        if (mtd.pwrite(data, ws, offset) != ssize_t(ws)) {
            ZEM_DEBUG("\n nand non_region_write error %#x ,writesize=%#x,offset=%#x,size=%#x\n", i,
                      ws, offset, size);
            return 1;
        }
    }
    const uint32_t tail = size % ws;
    if (tail != 0 && mtd.pwrite(data, tail, offset) != ssize_t(tail)) {
        ZEM_DEBUG("\n nand non_region_write error %#x,size=%#x \n", pages, size);
        return 1;
    }
    return 0;
}

int Utils::non_region_verify(platform::MtdPartition& mtd, const uint8_t* data, uint32_t size,
                             uint32_t offset) {
    constexpr uint32_t kChunk = 0x10000;  // read in pieces: the partition may be 5 MiB
    std::vector<uint8_t> back(size < kChunk ? size : kChunk);
    for (uint32_t done = 0; done < size;) {
        const uint32_t n = size - done < kChunk ? size - done : kChunk;
        if (mtd.pread(back.data(), n, offset + done) != ssize_t(n) ||
            std::memcmp(back.data(), data + done, n) != 0) {
            ZEM_DEBUG("\n MTD read-back differs or fails in %#x bytes at %#x \n", n, offset + done);
            writeLogMsg(1, "MTD: the partition does not read back what was written");
            return 1;
        }
        done += n;
    }
    return 0;
}
