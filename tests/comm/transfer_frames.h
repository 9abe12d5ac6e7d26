// The PC's file-transfer requests (start, data piece, end with the digest), as the link tests
// send them.
#pragma once

#include <string>

#include "pc_link.h"

inline Bytes start(const std::string& tag, uint32_t size, const std::string& name = "") {
    return body(0x80, cat({text(tag), le32(size), {uint8_t(name.size())}, text(name)}));
}
inline Bytes piece(uint32_t offset, const std::string& data) {
    return body(0x81, cat({le32(offset), le16(uint16_t(data.size())), text(data)}));
}
inline Bytes end(const Bytes& md5) {
    return body(0x82, md5);
}
// RFC 1321 test value of "abc".
inline const Bytes kMd5Abc = hex("900150983cd24fb0d6963f7d28e17f72");
