#pragma once

#include <QFile>
#include <QString>

// A file the command line writes at a path its user gave (--log, --report,
// and each row's log under --log-dir). In a folder others may write (/tmp,
// a shared log folder), another user could have put a link there to a file
// of the user's, to have it overwritten. So a link at the path is followed
// only when it is the user's own, and a new file is made without following
// any link: a link put there between the look and the making is refused too.
//
// Opens file at path with mode (WriteOnly, with Truncate, Append, NewOnly or
// Text as needed); false with why set when it cannot or must not.
bool openWritable(QFile& file, const QString& path, QIODevice::OpenMode mode, QString& why);
