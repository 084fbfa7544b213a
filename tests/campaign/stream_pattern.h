// Byte streams whose every two-byte window occurs once, so that a delivered record can be
// placed: a byte delivered twice, corrupted, or taken from another device's stream shows.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace campaign {

typedef unsigned char Byte;

// `count` bytes of device `device`'s stream (0 or 1), starting `offset` bytes in. Device 0
// uses the values 0x00-0x7F, device 1 the values 0x80-0xFF; within one device's stream of
// 16,384 bytes no pair of neighbouring bytes repeats.
std::vector<Byte> StreamBytes(int device, size_t offset, size_t count);

// Checks that every record is a contiguous piece of `sent`, the pieces in order and never
// overlapping (so bytes may be missing, but none is repeated, changed or foreign). Empty
// records are refused too, and so is any record when nothing was sent: the loopback never completes a read without bytes. Returns an
// empty string when they are; otherwise what is wrong. `*delivered` receives the number of
// bytes the records hold.
// `*gaps` receives the number of places where bytes are missing before a record. The bits of
// `deviceBits` name the device a byte belongs to (the top bit for StreamBytes).
std::string CheckPieces(const std::vector<std::vector<Byte>>& records, const std::vector<Byte>& sent,
                        size_t* delivered = nullptr, size_t* gaps = nullptr, Byte deviceBits = 0x80);

}  // namespace campaign
