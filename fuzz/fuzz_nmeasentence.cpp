// The sentence parser and its field functions on arbitrary received characters.
//
// Input: one byte of field number and buffer size, then the characters as received.
#include "device/nmeasentence.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_nmeasentence: %s\n", what);
        std::abort();
    }
}

// getFieldInt's contract: the field read like "%d", clamped to int.
bool referenceInt(const char *field, int &value)
{
    const char *p = field;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    if (*p == '+' || *p == '-')
        ++p;
    if (*p < '0' || *p > '9')
        return false;
    errno = 0;
    const long long number = std::strtoll(field, nullptr, 10);
    value = number < INT_MIN ? INT_MIN : number > INT_MAX ? INT_MAX : int(number);
    return true;
}

void checkFields(const cNmeaSentence &s, int capacity)
{
    for (int n = 0; n <= 30; ++n) {
        const int start = s.findField(n);
        check(start == -1 || (s.valid && start > 0 && start < s.length), "findField out of the sentence");
        // A buffer of exactly the capacity: anything written past it is caught by ASan.
        std::unique_ptr<char[]> buffer(new char[size_t(capacity)]);
        std::memset(buffer.get(), 'x', size_t(capacity));
        const bool got = s.getField(n, buffer.get(), capacity);
        check(got == (start >= 0), "getField disagrees with findField");
        if (got) {
            check(buffer[capacity - 1] == '\0', "getField result not terminated");
            const size_t len = std::strlen(buffer.get());
            check(std::strncmp(buffer.get(), s.text + start, len) == 0, "getField copied something else");
            check(std::strpbrk(buffer.get(), ",*\r\n") == nullptr, "getField copied a delimiter");
        }
        int value = 12345;
        const bool gotInt = s.getFieldInt(n, value);
        char field[25];
        int expected = 0;
        const bool expectInt = s.getField(n, field, sizeof field) && referenceInt(field, expected);
        check(gotInt == expectInt, "getFieldInt accepts differently from %d");
        check(!gotInt || value == expected, "getFieldInt value differs from %d");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int capacity = 1 + data[0] % 40;
    const char *chars = reinterpret_cast<const char *>(data + 1);
    const int count = int(size - 1);

    cNmeaSentence s;
    s.parse(chars, count);
    if (s.valid) {
        check(s.length >= 6 && s.length <= cNmeaSentence::maxSentenceLength + 2, "length out of range");
        // The body may hold NULs (they count in the checksum like any character); only the end is fixed.
        check(s.text[s.length] == '\0', "text not terminated at length");
        check(s.text[0] == '$' || s.text[0] == '!', "no start character");
        check(s.text[s.length - 2] == '\r' && s.text[s.length - 1] == '\n', "no line end");
        check(s.text[s.length - 5] == '*', "no checksum marker");
        const QByteArray body(s.text, s.length - 5);
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", nmeaChecksum(body));
        check(std::memcmp(digits, s.text + s.length - 4, 2) == 0, "accepted a wrong checksum");
    } else {
        check(s.length == 0 && s.text[0] == '\0', "invalid sentence left text behind");
    }
    checkFields(s, capacity);

    // A parse again of what was accepted finds the same sentence.
    if (s.valid) {
        cNmeaSentence again;
        again.parse(s.text, s.length);
        check(again.valid && again.length == s.length && std::memcmp(again.text, s.text, size_t(s.length)) == 0,
              "accepted sentence does not parse again");
    }

    // The command sentence built around any text is accepted as long as it fits, with the text
    // in its fifth field when the text holds no delimiter.
    const QByteArray text(chars, count);
    const QByteArray command = commandSentence(text) + "\r\n";
    cNmeaSentence reply;
    reply.parse(command.constData(), int(command.size()));
    const bool plain = text.size() > 0 && !text.contains(',') && !text.contains('*') && !text.contains('\n')
        && !text.contains('\r') && !text.contains('$') && !text.contains('!') && !text.contains('\0');
    if (plain && command.size() - 2 <= cNmeaSentence::maxSentenceLength) {
        check(reply.valid, "own command sentence rejected");
        char field[cNmeaSentence::textCapacity];
        check(reply.getField(6, field, sizeof field) && text == QByteArray(field), "text not in its field");
    }
    return 0;
}
