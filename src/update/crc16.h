#pragma once

#include <QtGlobal>

#include <cstddef>

// CRC-16/XMODEM (polynomial 0x1021, initial 0, no reflection, no final XOR) as the boot loader
// checks it over the data bytes of each block.
quint16 crc16Xmodem(const char *data, std::size_t size);
