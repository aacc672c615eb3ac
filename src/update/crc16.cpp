#include "update/crc16.h"

quint16 crc16Xmodem(const char *data, std::size_t size)
{
    // The table-free shift-and-XOR form: a 512-byte table per block is not worth it at serial
    // speeds, and this form has no data-dependent branches.
    quint16 crc = 0;
    for (std::size_t i = 0; i < size; ++i) {
        crc = quint16((crc >> 8) | (crc << 8));
        crc ^= quint8(data[i]);
        crc ^= quint8(crc & 0xff) >> 4;
        crc ^= quint16(crc << 12);
        crc ^= quint16((crc & 0xff) << 5);
    }
    return crc;
}
