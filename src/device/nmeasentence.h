#pragma once

#include <QByteArray>

// One received NMEA 0183 sentence. A plain value: parse() resets it and scans the given characters
// for the first complete sentence whose checksum matches.
class cNmeaSentence
{
public:
    // NMEA 0183 allows 82 characters including CR LF.
    static constexpr int maxSentenceLength = 80;
    static constexpr int textCapacity = 84;

    void parse(const char *chars, int count);

    // Start of field n (field 1 is the address field) in text, or -1 when the sentence is not
    // valid, the field lies beyond its end or the field is empty.
    int findField(int n) const;
    // Copies field n NUL-terminated, at most capacity - 1 characters; the rest of the buffer is
    // filled with NULs. False (buffer untouched) when the field is absent or empty.
    bool getField(int n, char *buffer, int capacity) const;
    // Field n as a decimal integer, read like the C "%d" conversion.
    bool getFieldInt(int n, int &value) const;

    char text[textCapacity] = {};
    int length = 0;
    bool valid = false;
};

// Exclusive-or of every character of a sentence body (start character to just before the "*")
// after its start character.
quint8 nmeaChecksum(const QByteArray &body);

// "$PKVR,0,0,0,2,<text>,0*HH" without the line end; the text goes in unchanged.
QByteArray commandSentence(const QByteArray &text);
