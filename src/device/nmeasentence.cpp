#include "device/nmeasentence.h"

#include <climits>
#include <cstring>

namespace {

enum class ParseState { WaitStart, Body, ChecksumHigh, ChecksumLow };

// The device's checksum digits are 0-9 and upper-case A-F. Anything else, lower-case letters
// included, gets a value that cannot make a matching checksum in either position.
constexpr int notADigit = 0x1000;

int digitValue(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return notADigit;
}

} // namespace

void cNmeaSentence::parse(const char *chars, int count)
{
    valid = false;
    length = 0;
    text[0] = '\0';

    ParseState state = ParseState::WaitStart;
    int stored = 0;
    int running = 0;
    int received = 0;
    // Characters past the buffer are counted but not kept: such a sentence is too long to be
    // valid anyway, and it must still swallow everything up to its checksum like a short one.
    const auto store = [&](char c) {
        if (stored < maxSentenceLength)
            text[stored] = c;
        ++stored;
    };

    for (int i = 0; i < count; ++i) {
        const char c = chars[i];
        switch (state) {
        case ParseState::WaitStart:
            if (c == '$' || c == '!') {
                stored = 0;
                store(c);
                running = 0;
                state = ParseState::Body;
            }
            break;
        case ParseState::Body:
            if (c == '*') {
                store(c);
                state = ParseState::ChecksumHigh;
            } else if (c == '\n') {
                state = ParseState::WaitStart;
            } else {
                store(c);
                running ^= static_cast<unsigned char>(c);
            }
            break;
        case ParseState::ChecksumHigh:
            store(c);
            received = digitValue(static_cast<unsigned char>(c)) * 16;
            state = ParseState::ChecksumLow;
            break;
        case ParseState::ChecksumLow:
            store(c);
            received += digitValue(static_cast<unsigned char>(c));
            if (stored <= maxSentenceLength && received == running) {
                text[stored] = '\r';
                text[stored + 1] = '\n';
                text[stored + 2] = '\0';
                length = stored + 2;
                valid = true;
                return;
            }
            state = ParseState::WaitStart;
            break;
        }
    }
    text[0] = '\0';
}

int cNmeaSentence::findField(int n) const
{
    if (!valid || n < 1)
        return -1;
    int pos = 1;
    for (int field = 1; field < n; ++field) {
        while (pos < length && text[pos] != ',')
            ++pos;
        if (pos >= length)
            return -1;
        ++pos;
    }
    if (pos >= length || text[pos] == ',' || text[pos] == '*')
        return -1;
    return pos;
}

bool cNmeaSentence::getField(int n, char *buffer, int capacity) const
{
    const int start = findField(n);
    if (start < 0 || !buffer || capacity <= 0)
        return false;
    int copied = 0;
    for (int pos = start; pos < length && copied < capacity - 1; ++pos) {
        const char c = text[pos];
        if (c == '\0' || c == '\n' || c == '\r' || c == '*' || c == ',')
            break;
        buffer[copied++] = c;
    }
    std::memset(buffer + copied, 0, size_t(capacity - copied));
    return true;
}

bool cNmeaSentence::getFieldInt(int n, int &value) const
{
    char field[25];
    if (!getField(n, field, sizeof field))
        return false;
    const char *p = field;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    if (*p < '0' || *p > '9')
        return false;
    long long number = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        // Saturate rather than overflow on absurdly long digit runs.
        if (number <= LLONG_MAX / 10 - 10)
            number = number * 10 + (*p - '0');
    }
    if (negative)
        number = -number;
    value = int(qBound(static_cast<long long>(INT_MIN), number, static_cast<long long>(INT_MAX)));
    return true;
}

quint8 nmeaChecksum(const QByteArray &body)
{
    quint8 sum = 0;
    for (qsizetype i = 1; i < body.size(); ++i)
        sum ^= quint8(body[i]);
    return sum;
}

QByteArray commandSentence(const QByteArray &text)
{
    QByteArray body = "$PKVR," + QByteArray::number(0) + ",0,0," + '2' + ',' + text + ",0";
    return body + '*' + QByteArray::number(nmeaChecksum(body), 16).toUpper().rightJustified(2, '0');
}
