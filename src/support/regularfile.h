#pragma once

#include <QFile>
#include <QString>

// Opens path for reading only when it is a regular file (after following links), and never blocks
// doing so: a FIFO, socket or device under that name is refused before anything opens it, and what
// was opened is checked again, so one swapped in between is refused as well. Every file the program
// reads from a place others can write to (update files, the simulator's ports file, lock files)
// goes through here.
bool openRegularFile(QFile &file, const QString &path);
