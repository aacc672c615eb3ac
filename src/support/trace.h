#pragma once

#include <QDebug>

// Developer trace, not the update log: one debug line per use, starting with the caller's name
// (e.g. "Quaymend::usbBoot"), ":", the source line number, ": ", then the streamed values,
// separated by qDebug's usual spaces and written without quotes:
//
//     QM_TRACE("Quaymend::Quaymend") << "DPI:" << dpiX << "x" << dpiY;
//
// gives "Quaymend::Quaymend:123: DPI: 96 x 96". The tag may be any text qDebug accepts.
#define QM_TRACE(tag) (qDebug().noquote().nospace() << (tag) << ':' << __LINE__ << ':').space()
