#pragma once
// The freedesktop trash: the home trash for entries on its file
// system, the top folder's own trash for entries on other drives.
#include <QByteArray>
#include <QString>

// Moves an entry (a file, a link or a whole folder) to the trash under a free name that fits
// the name length limit, with its record in info/ (the original path, escaped). Empty on
// success, else why it could not, for the question whether to delete it for good.
QString MoveToTrash(const QByteArray& path);
