#pragma once

#include <QByteArray>

#include <functional>

// Where the device link writes its update-log lines: one whole line of text per call (already
// tagged where a tag belongs). The dialog routes it to its update log; tests collect the lines.
using LogFn = std::function<void(const QByteArray &line)>;
