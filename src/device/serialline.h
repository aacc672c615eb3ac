#pragma once

// The line settings the port interface takes. Where Qt SerialPort is built (Linux) they are its
// own enumerations; on Windows, where the port talks to the Win32 serial API itself, the same
// names and values are defined here so that nothing above the port needs Qt SerialPort.
#ifndef _WIN32
#include <QSerialPort>
using cSerialLine = QSerialPort;
#else
struct cSerialLine
{
    enum Parity { NoParity = 0, EvenParity = 2, OddParity = 3, SpaceParity = 4, MarkParity = 5 };
    enum DataBits { Data5 = 5, Data6 = 6, Data7 = 7, Data8 = 8 };
    enum StopBits { OneStop = 1, OneAndHalfStop = 3, TwoStop = 2 };
    enum FlowControl { NoFlowControl, HardwareControl, SoftwareControl };
};
#endif
