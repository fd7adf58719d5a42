#pragma once

#include <QString>

#include "browse/Language.h"

// The compiled-in text catalogue of the file-browsing components: 72 rows in each of the eleven
// languages, and the one process-wide message table (rows 39 to 71) that every component of
// the family reads its message texts from.

inline constexpr int CatalogueRowCount = 72;
inline constexpr int CatalogueLanguageCount = 11;  // lnEnglish .. lnSpanish

// Row numbers of the catalogue.
enum TCatalogueRow {
    // Column captions
    crName = 0,
    crSize = 1,
    crType = 2,
    crModified = 3,
    crAttr = 4,
    crDiskSize = 5,
    crFreeSpace = 6,
    // Drive kinds: crDriveUnknown + drive kind code (0..6)
    crDriveUnknown = 7,
    crDriveNotExist = 8,
    crDriveRemovable = 9,
    crDriveFixed = 10,
    crDriveNetwork = 11,
    crDriveCDRom = 12,
    crDriveRam = 13,
    // File list menu
    crMenuOpen = 14,
    crMenuView = 15,
    crMenuSendTo = 16,
    crMenuCut = 17,
    crMenuCopy = 18,
    crMenuPaste = 19,
    crMenuRename = 20,
    crMenuDelete = 21,
    crMenuProperties = 22,
    crMenuNewFolder = 23,
    // Send-to submenu
    crSendAnyFolder = 24,
    crSendClipContents = 25,
    crSendClipFileName = 26,
    crSendDesktopShortcut = 27,
    // Folder tree menu (rows 28..38)
    crTreeNewFolder = 28,
    crTreeProperty = 38,
    // Message table rows (39..71)
    msgDrive = 39,
    msgFolderQuote = 40,
    msgError = 41,
    msgFile = 42,
    msgFrom = 43,
    msgTo = 44,
    msgCancel = 45,
    msgBrowse = 46,
    msgReadOnly = 47,
    msgArchive = 48,
    msgHidden = 49,
    msgSystem = 50,
    msgErrorCant = 51,
    msgSpecifyDirectory = 52,
    msgInvalidDrive = 53,
    msgDriveNotReady = 54,
    msgAlreadyExists = 55,
    msgInvalidDirName = 56,
    msgRenameFolder = 57,
    msgCantAddDrives = 58,
    msgNewFolder = 59,
    msgInvalidChars = 60,
    msgNotFound = 61,
    msgFilesIn = 62,
    msgFileOpFailed = 63,
    msgItsReadOnly = 64,
    msgNoFilesSelected = 65,
    msgSendToCaption = 66,
    msgSendToLabel = 67,
    msgSaveFailed = 68,
    msgSetAttributes = 69,
    msgTreeSize = 70,
    msgSubFolders = 71
};

inline constexpr int MessageFirstRow = msgDrive;
inline constexpr int MessageLastRow = msgSubFolders;
inline constexpr int MessageSlotCount = MessageLastRow - MessageFirstRow + 1;

// The catalogue text of a row in a language. lnSysDefault is resolved from the system
// language first. A row outside 0..71 gives an empty string.
QString CatalogueText(TLanguage language, int row);

// Which component writes the message table.
enum TMessageWriter { mwFileList, mwDirCombo };

// Whether a writer owns a message slot: the file list writes rows 41, 42, 45..55, 59 and
// 64..69; the combo writes rows 39..44, 51..63, 70 and 71.
bool WritesMessageRow(TMessageWriter writer, int row);

// The process-wide message table. Slots start out English so that messages shown before any
// component has set its language are readable.
struct TMessageTable {
    QString Slots[MessageSlotCount];
    TLanguage ListLanguage = lnEnglish;
    TLanguage ComboLanguage = lnEnglish;
};

TMessageTable& MessageTable();

// The current text of a message slot (rows 39..71); empty for other rows.
QString MessageText(int row);

// Writes the writer's language byte and copies the writer's rows in that language into their
// slots (last writer wins for the slots both write). lnSysDefault is resolved first.
void LoadMessages(TMessageWriter writer, TLanguage language);

// The language setter rule shared by the components: resolve lnSysDefault (the file list from
// the system default language, the combo from the user's), do nothing if the result equals
// `current`, otherwise store it in `current`, load the writer's messages and return true.
bool ApplyComponentLanguage(TMessageWriter writer, TLanguage& current, TLanguage value);

// Restores the initial (English) table; for tests.
void ResetMessageTable();
