#include "device/serialport.h"

#include <QElapsedTimer>

#include <cstring>
#include <string>

#include <windows.h>

namespace {

HANDLE handleOf(void *handle)
{
    return static_cast<HANDLE>(handle);
}

// Every port through the device namespace: COM10 and above cannot be opened by their bare name,
// and "\\.\COM5" works for the low ones as well.
std::wstring devicePath(const QString &name)
{
    const QString prefix = QStringLiteral("\\\\.\\");
    return (name.startsWith(prefix) ? name : prefix + name).toStdWString();
}

BYTE parityOf(cSerialLine::Parity parity)
{
    switch (parity) {
    case cSerialLine::EvenParity: return EVENPARITY;
    case cSerialLine::OddParity: return ODDPARITY;
    case cSerialLine::SpaceParity: return SPACEPARITY;
    case cSerialLine::MarkParity: return MARKPARITY;
    default: return NOPARITY;
    }
}

BYTE stopBitsOf(cSerialLine::StopBits bits)
{
    switch (bits) {
    case cSerialLine::TwoStop: return TWOSTOPBITS;
    case cSerialLine::OneAndHalfStop: return ONE5STOPBITS;
    default: return ONESTOPBIT;
    }
}

// How long a wait for input goes without looking whether the port is still there.
constexpr int vanishCheckMs = 100;

// Between waits: ReadFile returns at once with whatever the driver holds, and a write waits at
// most writeMs for a peer that does not read.
COMMTIMEOUTS noWait(int writeMs)
{
    return { MAXDWORD, 0, 0, 0, DWORD(qMax(1, writeMs)) };
}

// ReadFile for one byte waits at most ms for it. Windows also has "(MAXDWORD, MAXDWORD, ms)" for
// "return as soon as anything arrives", but Wine waits the whole time-out with it, so the first
// byte is waited for alone and the rest taken without waiting.
COMMTIMEOUTS waitFor(int ms, int writeMs)
{
    return { 0, 0, DWORD(qMax(1, ms)), 0, DWORD(qMax(1, writeMs)) };
}

} // namespace

bool cSerialPort::applySettings()
{
    DCB dcb {};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handleOf(m_handle), &dcb))
        return false;
    dcb.BaudRate = DWORD(m_baudRate);
    dcb.ByteSize = BYTE(m_dataBits);
    dcb.Parity = parityOf(m_parity);
    dcb.StopBits = stopBitsOf(m_stopBits);
    dcb.fBinary = TRUE;
    dcb.fParity = m_parity != cSerialLine::NoParity;
    dcb.fOutxCtsFlow = m_flowControl == cSerialLine::HardwareControl;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = m_flowControl == cSerialLine::HardwareControl ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fOutX = dcb.fInX = m_flowControl == cSerialLine::SoftwareControl;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    // An error on the line must not stop every read and write until ClearCommError is called.
    dcb.fAbortOnError = FALSE;
    return SetCommState(handleOf(m_handle), &dcb) != 0;
}

bool cSerialPort::openPort(QIODevice::OpenMode mode, bool keepInput)
{
    if (isOpen())
        return true;
    DWORD access = 0;
    if (mode & QIODevice::ReadOnly)
        access |= GENERIC_READ;
    if (mode & QIODevice::WriteOnly)
        access |= GENERIC_WRITE;
    // No sharing: Windows refuses the port to every other program while it is ours, and refuses
    // it to us while another program has it.
    const HANDLE handle = CreateFileW(devicePath(m_name).c_str(), access, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    m_handle = handle;
    m_vanished = false;
    SetupComm(handle, 64 * 1024, 64 * 1024);
    // Some drivers refuse a setting they cannot do (DTR on a pseudo-terminal under Wine); the line
    // itself is what matters.
    if (!applySettings()) {
        DCB dcb {};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(handle, &dcb) || dcb.BaudRate != DWORD(m_baudRate)) {
            close();
            return false;
        }
    }
    COMMTIMEOUTS timeouts = noWait(m_timeoutMs);
    SetCommTimeouts(handle, &timeouts);
    m_writeTimeoutSet = m_timeoutMs;
    // Every open starts with nothing to read, unless asked to keep it: what the other side sent
    // before belongs to no exchange of ours.
    if (!keepInput)
        PurgeComm(handle, PURGE_RXCLEAR | PURGE_RXABORT);
    return true;
}

bool cSerialPort::isOpen() const
{
    return m_handle != nullptr;
}

void cSerialPort::close()
{
    if (!m_handle)
        return;
    // What arrived while the port was ours and was not read belongs to no later open.
    PurgeComm(handleOf(m_handle), PURGE_RXCLEAR | PURGE_RXABORT);
    CloseHandle(handleOf(m_handle));
    m_handle = nullptr;
    m_carried.clear();
}

// Every failure of the driver means the port has gone: a USB serial device that is unplugged
// fails every call on its handle from then on (the errors differ from driver to driver).
bool cSerialPort::checkVanished()
{
    if (m_vanished || !m_handle)
        return m_vanished;
    DWORD errors = 0;
    COMSTAT status {};
    if (!ClearCommError(handleOf(m_handle), &errors, &status))
        m_vanished = true;
    return m_vanished;
}

qint64 cSerialPort::write(const char *data, qint64 size)
{
    if (!isOpen())
        return -1;
    if (m_vanished)
        return -1;
    // A write completes before it returns, and a peer that stops reading holds it at most the
    // time-out; what the driver has not taken by then is not written.
    if (m_writeTimeoutSet != m_timeoutMs) {
        COMMTIMEOUTS timeouts = noWait(m_timeoutMs);
        SetCommTimeouts(handleOf(m_handle), &timeouts);
        m_writeTimeoutSet = m_timeoutMs;
    }
    qint64 done = 0;
    QElapsedTimer clock;
    clock.start();
    while (done < size && clock.elapsed() < qMax(1, m_timeoutMs)) {
        DWORD written = 0;
        const DWORD chunk = DWORD(qMin<qint64>(size - done, 64 * 1024));
        if (!WriteFile(handleOf(m_handle), data + done, chunk, &written, nullptr)) {
            m_vanished = true;
            break;
        }
        if (written == 0)
            break;
        done += written;
    }
    return done > 0 || !m_vanished ? done : -1;
}

bool cSerialPort::waitForInput(int ms)
{
    if (!m_carried.isEmpty())
        return true;
    if (checkVanished())
        return false;
    DWORD errors = 0;
    COMSTAT status {};
    if (ClearCommError(handleOf(m_handle), &errors, &status) && status.cbInQue > 0)
        return true;
    if (m_queryMode != Polling || ms <= 0)
        return false;
    // The first byte, waited for in the driver: it is kept here and read before anything else.
    // In slices, each followed by a look at the port: Wine lets a read on a port whose device has
    // gone wait out its whole time-out, and only the port's state tells.
    QElapsedTimer clock;
    clock.start();
    int sliceSet = -1;
    bool arrived = false;
    for (;;) {
        const qint64 left = ms - clock.elapsed();
        if (left <= 0)
            break;
        const int slice = int(qMin<qint64>(left, vanishCheckMs));
        if (slice != sliceSet) {
            COMMTIMEOUTS timeouts = waitFor(slice, m_timeoutMs);
            SetCommTimeouts(handleOf(m_handle), &timeouts);
            sliceSet = slice;
        }
        char first = 0;
        DWORD got = 0;
        if (!ReadFile(handleOf(m_handle), &first, 1, &got, nullptr)) {
            m_vanished = true;
            break;
        }
        if (got == 1) {
            m_carried.append(first);
            arrived = true;
            break;
        }
        if (checkVanished())
            break;
    }
    COMMTIMEOUTS timeouts = noWait(m_timeoutMs);
    SetCommTimeouts(handleOf(m_handle), &timeouts);
    m_writeTimeoutSet = m_timeoutMs;
    return arrived;
}

qint64 cSerialPort::readDriver(char *data, qint64 maxSize)
{
    DWORD got = 0;
    if (!ReadFile(handleOf(m_handle), data, DWORD(qMin<qint64>(maxSize, 64 * 1024)), &got, nullptr)) {
        m_vanished = true;
        return -1;
    }
    return qint64(got);
}

qint64 cSerialPort::bytesAvailable()
{
    if (!isOpen())
        return 0;
    DWORD errors = 0;
    COMSTAT status {};
    if (!ClearCommError(handleOf(m_handle), &errors, &status)) {
        m_vanished = true;
        return m_carried.size();
    }
    return m_carried.size() + qint64(status.cbInQue);
}

qint64 cSerialPort::bytesToWrite() const
{
    return 0;
}

bool cSerialPort::waitForBytesWritten(int)
{
    return false;
}

bool cSerialPort::flush()
{
    return isOpen();
}

void cSerialPort::discardInput()
{
    if (!isOpen())
        return;
    PurgeComm(handleOf(m_handle), PURGE_RXCLEAR | PURGE_RXABORT);
    m_carried.clear();
}
