#pragma once
// File lists on the clipboard and in drops, in the forms Linux file managers exchange:
// "text/uri-list" (file:// URLs, one per line) and "x-special/gnome-copied-files" ("copy" or
// "cut" on the first line, then the URLs), plus KDE's cut marker and the paths as plain text.
// Whether the files were cut or copied travels with the list, so a file manager pastes a cut
// from the list as a move. Paths are kept as the bytes the file system names them by: a name
// that is not valid in the locale's encoding would lose bytes as text.
#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

class QMimeData;

// The transfer mode of the file lists' last copy or cut: one process-wide value shared by every
// list. Copy, cut and drops set it; it falls back to copy after a paste that moved and when
// another program takes the clipboard. A paste moves only when the clipboard itself says cut.
enum TTransferMode { tmCopy, tmMove };
TTransferMode& FileTransferMode();

// The MIME formats written and read.
inline constexpr const char* UriListMime = "text/uri-list";
inline constexpr const char* GnomeCopiedFilesMime = "x-special/gnome-copied-files";
inline constexpr const char* KdeCutSelectionMime = "application/x-kde-cutselection";
// Marks lists this program wrote, so that its own cut is not mistaken for another program's.
inline constexpr const char* OwnFileListMime = "application/x-velkaro-file-list";

// A new MIME object holding the paths in every format above.
QMimeData* MakeFileListMimeData(const QList<QByteArray>& paths, bool cut);
QMimeData* MakeFileListMimeData(const QStringList& paths, bool cut);

struct TFileList {
    QList<QByteArray> Native;  // local paths only, in order, as the file system names them
    QStringList Paths;         // the same as text
    bool HasMode = false;      // the data says whether the files were cut or copied
    bool Cut = false;
    bool Own = false;  // written by this program
};

// The local files of MIME data (gnome-copied-files first, then the URL list); empty when it
// holds none.
TFileList ReadFileList(const QMimeData* data);

// The system clipboard. The list read says Own only while the clipboard still holds the list
// this program put there last.
void PutFileListOnClipboard(const QList<QByteArray>& paths, bool cut);
TFileList ClipboardFileList();
bool ClipboardHasFileList();
// Empties the clipboard after its files were moved away.
void ClearClipboardFileList();

// Reads a picture file for the clipboard ("Clipboard as Contents" of .bmp and .wmf files). The
// default reads what Qt's image readers know; the program installs its own decoders. A loader
// may throw std::exception; the message is shown to the user.
// The path is the file's name as the file system names it.
using TPictureLoader = std::function<QImage(const QByteArray& path)>;
void SetPictureLoader(TPictureLoader loader);
QImage LoadPictureForClipboard(const QByteArray& path);
QImage LoadPictureForClipboard(const QString& path);
