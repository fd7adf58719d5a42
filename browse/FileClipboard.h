#pragma once
// File lists on the clipboard and in drops, in the forms Linux file managers exchange:
// "text/uri-list" (file:// URLs, one per line) and "x-special/gnome-copied-files" ("copy" or
// "cut" on the first line, then the URLs), plus KDE's cut marker and the paths as plain text.
// Whether the files were cut or copied travels with the list, so a file manager pastes a cut
// from the list as a move.
#include <QImage>
#include <QString>
#include <QStringList>
#include <functional>

class QMimeData;

// The transfer mode of the file lists: one process-wide value shared by every list. Copy,
// cut and drops set it; a paste reads it.
enum TTransferMode { tmCopy, tmMove };
TTransferMode& FileTransferMode();

// The MIME formats written and read.
inline constexpr const char* UriListMime = "text/uri-list";
inline constexpr const char* GnomeCopiedFilesMime = "x-special/gnome-copied-files";
inline constexpr const char* KdeCutSelectionMime = "application/x-kde-cutselection";
// Marks lists this program wrote, so that its own cut is not mistaken for another program's.
inline constexpr const char* OwnFileListMime = "application/x-velkaro-file-list";

// A new MIME object holding the paths in every format above.
QMimeData* MakeFileListMimeData(const QStringList& paths, bool cut);

struct TFileList {
    QStringList Paths;     // local paths only, in order
    bool HasMode = false;  // the data says whether the files were cut or copied
    bool Cut = false;
    bool Own = false;  // written by this program
};

// The local files of MIME data (gnome-copied-files first, then the URL list); empty when it
// holds none.
TFileList ReadFileList(const QMimeData* data);

// The system clipboard.
void PutFileListOnClipboard(const QStringList& paths, bool cut);
TFileList ClipboardFileList();
bool ClipboardHasFileList();

// Reads a picture file for the clipboard ("Clipboard as Contents" of .bmp and .wmf files). The
// default reads what Qt's image readers know; the program installs its own decoders. A loader
// may throw std::exception; the message is shown to the user.
using TPictureLoader = std::function<QImage(const QString& path)>;
void SetPictureLoader(TPictureLoader loader);
QImage LoadPictureForClipboard(const QString& path);
