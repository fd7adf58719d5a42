#pragma once
// Directory reading for the file list: the rows of one folder (sub-folders, the parent-folder
// row and the files that match ";"-separated wildcard masks and an attribute filter), and the
// rows of the drive list. A folder's listing is read once and each entry stat()ed only when a
// pass needs it, so that a large folder lists at once.
#include <QString>
#include <vector>

#include "browse/FileListModel.h"
#include "browse/Language.h"

// What to list of a folder.
struct TFolderListing {
    QString folder;      // with a trailing "/"
    quint32 filter = 0;  // attribute filter (faReadOnly, faHidden, faSysFile, faArchive)
    QString mask;        // ";"-separated wildcard masks; empty takes every name
    bool showFolders = true;
    bool parentDirEnabled = true;
    QString parentCaption;
    int parentImage = -1;
    bool hideFileExt = false;
    // After the masks, files without an extension whose first 4 KiB read as text (at most
    // MaxSniffedFiles of them).
    bool sniffText = false;
};

constexpr int MaxSniffedFiles = 256;

// Appends the folder's rows in listing order. Returns why the folder could not be read (the
// system's text for the error; the parent row is listed all the same), empty when it was read.
QString ReadFolderRows(const TFolderListing& listing, std::vector<TListRow>& rows);

// Appends one row per drive, with its texts in the language.
void ReadDriveRows(TLanguage language, std::vector<TListRow>& rows);

// Whether bytes from a file's start read as text: no NUL (unless UTF-16 by its mark) and almost
// no other control characters.
bool LooksLikeText(const char* data, qsizetype size);
