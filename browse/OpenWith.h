#pragma once
// The desktop applications that open a file's type, as the freedesktop desktop-entry and
// MIME-applications rules register them: the .desktop files under $XDG_DATA_HOME/applications
// and $XDG_DATA_DIRS/*/applications (their MimeType= lines and each folder's mimeinfo.cache), and
// the mimeapps.list files of $XDG_CONFIG_HOME, $XDG_CONFIG_DIRS and the data folders with their
// [Default Applications], [Added Associations] and [Removed Associations]. Qt Core only: the
// folders are read from the environment on every call, so tests can point them at a temporary
// tree.
#include <QList>
#include <QString>
#include <QStringList>

struct TDesktopApplication {
    QString id;    // the desktop file ID: its path below applications/, "/" turned into "-"
    QString file;  // the .desktop file
    QString name;  // Name=
    QString exec;  // Exec=, with the string escapes undone
    QString icon;  // Icon=
    QStringList mimeTypes;
    bool hidden = false;     // Hidden=true: the entry counts as deleted
    bool noDisplay = false;  // NoDisplay=true: not offered in menus
    QString tryExec;         // TryExec=: a program that must be installed
    bool isDefault = false;  // set by ApplicationsForType on the type's default application
    // An application entry that can be started: Type=Application with an Exec line, not hidden,
    // and its TryExec program (when named) installed.
    bool Usable() const;
};

namespace OpenWith {

// Reads the [Desktop Entry] group of a .desktop file; an entry whose file cannot be read or that
// is no application comes back with an empty exec.
TDesktopApplication ReadDesktopFile(const QString& path, const QString& id);

// The applications registered for a MIME type (its aliases and parent types after it), the
// default one first (marked isDefault), each once. Hidden entries, entries whose TryExec program
// is missing and removed associations are left out; NoDisplay entries only appear as the default.
QList<TDesktopApplication> ApplicationsForType(const QString& mimeType);
// The same for a file, its type looked up by QMimeDatabase.
QList<TDesktopApplication> ApplicationsForFile(const QString& path);
// The file's MIME type name.
QString MimeTypeOf(const QString& path);

// An Exec line made into a program and its arguments for the files: %f and %u stand for the
// first file (as a path, as a file: URL), %F and %U for all of them as arguments of their own,
// %% for "%"; the other field codes are removed. Arguments are split at spaces outside double
// quotes; inside them a backslash escapes the next character. A line without a file field code
// gets the files appended. An empty list for a line that names no program or leaves a quote
// open.
QStringList ExpandExec(const QString& exec, const QStringList& files);

// Starts the program an Exec line names for the file, detached, without a shell. False when it
// could not be started.
bool Launch(const QString& exec, const QString& file);

}  // namespace OpenWith
