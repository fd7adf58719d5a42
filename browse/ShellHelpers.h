#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QIODevice>
#include <QIcon>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

#include "browse/Language.h"
#include "browse/MessageCatalogue.h"

class QFile;
class QFileInfo;
class QWidget;

// Shell and file helpers shared by the file-browsing components. Everything runs on the GUI
// thread; failures are reported to the user with message boxes and never thrown.
//
// Paths are QStrings with "/" as the delimiter; folder paths are stored with a trailing "/".

inline constexpr QChar PathDelim = u'/';

// ---------------------------------------------------------------------------------------------
// Path strings

// The path with a trailing "/" unless it already ends with one; an empty path stays empty.
QString AddSlash(const QString& path);
// The path without its trailing "/" if it has one ("/" itself becomes empty).
QString DropSlash(const QString& path);
// AddSlash(folder) + name; empty if either is empty.
QString JoinPath(const QString& folder, const QString& name);
// The file-name part of the path with its extension (from the last ".") removed.
QString NameWithoutExt(const QString& path);
// The text with one NUL appended unless it already ends with one.
QString TerminateList(const QString& text);
// Builds a NUL-separated, NUL-terminated path list, and splits one back into its paths.
QString MakePathList(const QStringList& paths);
QStringList SplitPathList(const QString& list);
// The last name of a path ("/a/b/" and "/a/b" both give "b").
QString LastName(const QString& path);
// The folder part of a path with a trailing "/" ("/a/b.txt" gives "/a/").
QString FolderOf(const QString& path);
// Wildcard match of a name against one pattern: "*" any run, "?" any one character, letter
// case ignored.
bool WildcardMatch(const QString& name, const QString& pattern);

// ---------------------------------------------------------------------------------------------
// Message boxes

enum TMsgKind { mkError, mkWarning, mkInformation, mkConfirmation, mkPlain };

// Shows a message box (OK, or Yes/No for mkConfirmation) with the application title as caption.
// Returns true for OK/Yes. defaultNo makes No the default button of a confirmation (for
// questions whose Yes cannot be undone).
bool ShowBrowseMessage(TMsgKind kind, const QString& text, QWidget* owner = nullptr,
                       bool defaultNo = false);

// Tests divert the message boxes: while a hook is set it receives every message instead of a
// dialog and its result is the answer. Pass nullptr to restore the dialogs.
using TMessageHook = std::function<bool(TMsgKind kind, const QString& text)>;
void SetMessageHook(TMessageHook hook);

// ---------------------------------------------------------------------------------------------
// Launching

// Show states as the Windows shell numbers them; only a hint on Linux.
enum TShowState {
    swHide = 0,
    swShowNormal = 1,
    swShowMinimized = 2,
    swShowMaximized = 3,
    swShow = 5
};

// Performs a verb on a file: "Open" (a program is started with the parameters, anything else
// goes to the desktop's default application), "Explore" (a folder in the file manager),
// "Find" (the desktop's search tool on a folder, when one is installed), "properties" (our own
// properties dialog). Returns a result code above 32 on success. On failure (32 or less) shows
// "ERROR - Can't " + verb + " file " + file as an error message.
int ShellLaunch(const QString& verb, const QString& file, const QString& parameters = QString(),
                int showState = swShowNormal, const QString& workFolder = QString());

// Runs a program ("Open") with one file: the file's name as the parameter and its folder as the
// working folder. The file is given as the file system names it, so a name that is not valid
// in the locale's encoding reaches the program unchanged.
int ShellLaunchWithFile(const QString& program, const QByteArray& file);

// Tests bypass real launching: while set, ShellLaunch asks the hook for the result code
// instead of starting anything (the failure message is still shown for codes of 32 or less).
using TLaunchHook = std::function<int(const QString& verb, const QString& file,
                                      const QString& parameters, const QString& workFolder)>;
void SetLaunchHook(TLaunchHook hook);
bool LaunchHookSet();

// ---------------------------------------------------------------------------------------------
// File operations

enum TFileOp { foMove = 1, foCopy = 2, foDelete = 3, foRename = 4 };

enum TConflictAnswer { caReplace, caReplaceAll, caSkip, caSkipAll, caCancel };

// The questions ShellFileOp asks. The defaults show Qt dialogs; tests replace them.
struct TFileOpPrompts {
    // Confirm moving the items to the trash.
    std::function<bool(const QStringList& items)> ConfirmDelete;
    // Something already exists at the target: a file to replace, or a folder to merge into
    // (only ever asked for two folders; a file never replaces a folder nor a folder a file).
    std::function<TConflictAnswer(const QString& source, const QString& target, bool merge)>
        Conflict;
    // The item cannot go to the trash, for the reason given; delete it permanently?
    std::function<bool(const QString& path, const QString& reason)> ConfirmPermanentDelete;
    // An individual file error, or an entry refused or kept (the operation goes on).
    std::function<void(const QString& message)> Error;
    // Show a progress dialog for longer operations.
    bool ShowProgress = true;
};

// The process-wide prompts used by ShellFileOp, and a reset to the interactive defaults.
TFileOpPrompts& FileOpPrompts();
void ResetFileOpPrompts();

// Tests inject failures into the copy routine. The hook is asked before a target file is
// created (step -1), before a move renames (step -2) and before every block is written (step =
// bytes written so far); a non-zero answer is taken as the errno of that step (EACCES for an
// unwritable target, ENOSPC for a full disk, EXDEV to make a move copy across file systems).
// The hook may also change the files itself, for instance remove a source mid-copy.
using TCopyFaultHook =
    std::function<int(const QString& source, const QString& target, qint64 step)>;
void SetCopyFaultHook(TCopyFaultHook hook);

// Opens a file by the bytes of its path (QFile itself takes text, which cannot carry every
// name); flags as for open(2), O_CLOEXEC added. False, with errno set, when it cannot be opened.
bool OpenNativeFile(QFile& file, const QByteArray& path, int flags, QIODevice::OpenMode mode);

// Renames without replacing anything at the target (fails with EEXIST then).
bool RenameNoReplace(const QByteArray& from, const QByteArray& to);
// Writes a new file: under a hidden name beside it, flushed and read back, then given its name
// without replacing anything there. False with errno set (EEXIST when the name is taken).
bool WriteNewFile(const QByteArray& path, const QByteArray& data, unsigned int mode = 0644);

// Whether a file operation is running (only one runs at a time; ShellFileOp refuses another).
bool FileOperationRunning();

// One batch file operation. fromList and toList are NUL-separated path lists (TerminateList
// is applied to both). Copy and move put the sources into the target folder when the target
// is an existing folder (or the list holds several sources), else the target is the new path;
// copying onto itself makes "name (copy)". A copied file is written under a hidden name and
// takes its own name only when complete, without replacing what appeared there meanwhile; a
// replaced file is replaced only then; a failed or cancelled copy removes what it made of that
// source. A folder is never replaced by a file or link nor a file by a folder, and an entry
// is never copied or moved onto itself: such entries are refused with a message and the others
// go on. A move across file systems copies, reads the copy back, and then removes each source
// entry that is still as it was copied (folders that gained entries stay). Rename changes one
// path into another and fails if the target exists. Delete moves to the freedesktop trash after
// a confirmation. Conflicts, errors and progress are handled with our own dialogs. Only one
// operation runs at a time. Returns true only if everything succeeded and nothing was
// cancelled, refused or skipped.
bool ShellFileOp(TFileOp operation, const QString& fromList, const QString& toList);
// The same on paths as the file system names them (the bytes of a listed entry's name, which
// the text of a name that is not valid in the locale's encoding does not keep). Every file-system
// call uses these bytes.
bool ShellFileOp(TFileOp operation, const QList<QByteArray>& sources,
                 const QList<QByteArray>& targets);

// ---------------------------------------------------------------------------------------------
// Folders and drives

// Folder picker titled "Please specify a directory" (message table). On OK returns true and the
// chosen folder with a trailing "/". startAtNetwork starts in the network mounts folder.
bool PickFolder(QWidget* owner, bool startAtNetwork, QString& folder);
// Tests bypass the folder dialog: while set, the hook returns the chosen folder (empty for
// Cancel) and gets the start folder.
void SetPickFolderHook(std::function<QString(const QString& startFolder)> hook);

// Total and free size of the file system holding root, in units of 1024 bytes; 0 when it
// cannot be read.
qint64 DriveSizeKB(const QString& root);
qint64 DriveFreeKB(const QString& root);

// Whether the file system at root can be queried. A root that is not an absolute path shows
// "Not a valid Drive ID" and the query still runs; a failed query with withMessages beeps and
// shows "There is no disk in Drive or Drive is not ready" as a warning.
bool DiskReady(const QString& root, bool withMessages);

// If anything exists at path, shows "\"" + last name + "\" already exists !" and returns true.
bool ReportIfExists(const QString& path);

// Drive kind codes and their catalogue rows (crDriveUnknown + code).
enum TDriveKind {
    dkUnknown = 0,
    dkNoRootDir = 1,
    dkRemovable = 2,
    dkFixed = 3,
    dkRemote = 4,
    dkCDRom = 5,
    dkRamDisk = 6
};

// The text of a drive kind code in a language; codes outside 0..6 return `current` unchanged.
QString DriveKindText(int kind, TLanguage language, const QString& current = QString());

// One mounted file system as the "Drives" view lists it.
struct TDriveInfo {
    QString Root;        // mount point with a trailing "/"
    QString MountPoint;  // mount point as mounted ("/" for the root file system)
    QString Device;      // mount source ("/dev/sda1", "server:/export", "tmpfs")
    QString FsType;      // "ext4", "nfs4", "fuse.sshfs", ...
    QString Label;       // volume label, or the device name when there is none
    TDriveKind Kind = dkUnknown;
    // " (" + mount point + ")  " + label
    QString Caption;
};

// The mounted file systems a user cares about, in mount order, from /proc/self/mountinfo;
// pseudo file systems and system-internal mounts are left out; a mount point hidden by a
// later mount on the same point appears once.
QList<TDriveInfo> EnumerateDrives();
// The same from mountinfo text (testable without the real mount table).
QList<TDriveInfo> ParseMountInfo(const QString& mountInfo);
// Whether a file system type is a pseudo file system that the drive list leaves out.
bool IsPseudoFileSystem(const QString& fsType);
// Kind of a drive from its file system type and device.
TDriveKind DriveKindOf(const QString& fsType, const QString& device);
// Kind of the drive whose root is root (dkNoRootDir when root is no mounted folder).
TDriveKind DriveKind(const QString& root);
// Kind of the drive mounted exactly at folder, or -1 when nothing is mounted there (from the
// mount table as last read by EnumerateDrives, read once when nothing has been read yet).
int MountedDriveKind(const QString& folder);
// " (" + mountPoint + ")  " + labelOrDevice
QString DriveCaption(const QString& mountPoint, const QString& labelOrDevice);

// ---------------------------------------------------------------------------------------------
// File attributes (Windows bit values)

enum : quint32 {
    faReadOnly = 0x01,   // the user may not write it
    faHidden = 0x02,     // name begins with "."
    faSysFile = 0x04,    // device, socket or pipe
    faDirectory = 0x10,  // folder
    faArchive = 0x20,    // regular file
    faNormal = 0x80
};

// Attributes of the entry at path (a symbolic link counts as its target; a dangling link as a
// file). Returns 0 when nothing exists there.
quint32 FileAttributes(const QString& path);
quint32 FileAttributes(const QFileInfo& info);
// The same for a path as the file system names it.
quint32 FileAttributesNative(const QByteArray& path);
// The attributes a stat() result and a name give (st_mode, and the last name as the file system
// names it), all but faReadOnly: folder, regular file or link, else system; hidden for a name
// that begins with ".".
quint32 EntryAttributes(quint32 mode, const QByteArray& name);
// Attribute letters in the fixed order "A", "R", "H", "S".
QString AttributeLetters(quint32 attributes);

// ---------------------------------------------------------------------------------------------
// Icons and type names

// The process-wide icon list. Icons are looked up by file name (MIME type by extension) and
// cached per type, so every file of one type shares one index; file contents are never read.
class TSystemImageList {
  public:
    static TSystemImageList& Instance();
    int Count() const;
    QIcon Icon(int index) const;  // null icon for an index out of range
    int Add(const QIcon& icon);   // appends, returns the new index
    // Index for a key, adding the icon made by `make` the first time the key is seen.
    int IndexFor(const QString& key, const std::function<QIcon()>& make);

  private:
    TSystemImageList() = default;
    QList<QIcon> icons_;
    QHash<QString, int> byKey_;
};

// Small (and large: one icon serves both sizes) icon index of a path, and the icon of its
// "open" state (the open-folder picture for folders).
int SmallIconIndex(const QString& path);
// The program's own icon for a freedesktop generic icon name ("image-x-generic",
// "text-x-generic", ...), used where the desktop's icon theme has none; null for a name the
// small bundled set lacks.
QIcon BundledTypeIcon(const QString& genericIconName);
int OpenIconIndex(const QString& path);
// Icon index of a drive of a kind.
int DriveIconIndex(TDriveKind kind);

// The type name of a path: the MIME type's comment by file name ("PNG image", "folder"), at
// most 79 characters.
QString ShellTypeName(const QString& path);

// ---------------------------------------------------------------------------------------------
// Special folders

enum TSpecialFolder {
    sfDesktop = 0,
    sfFavorites = 1,
    sfNetHood = 2,
    sfPersonal = 3,
    sfPrograms = 4,
    sfSendTo = 5,
    sfStartMenu = 6,
    sfStartUp = 7,
    sfWindows = 8,  // where viewer programs live: /usr/bin/
    sfSystem = 9
};

// Path of a per-user special folder with a trailing "/", or empty when there is none. The
// send-to folder is <data dir>/velkaro/SendTo (created when missing).
QString SpecialFolder(int kind);

// Our own properties dialog for a path. Returns false (after a plain message such as "The
// specified file was not found.") when the path cannot be shown.
bool ShowProperties(const QString& path);
bool ShowProperties(const QByteArray& nativePath);
// Tests bypass the (modal) properties dialog: while set, ShowProperties calls it instead with
// the path as the file system names it.
void SetPropertiesHook(std::function<void(const QByteArray& path)> hook);

// ---------------------------------------------------------------------------------------------
// Formatting

// File times as the 64-bit count of 100-nanosecond units since 1601-01-01 UTC.
qint64 FileTimeFromDateTime(const QDateTime& time);
// From a time since 1970 as stat() gives it (seconds and nanoseconds).
qint64 FileTimeFromUnix(qint64 seconds, qint64 nanoseconds);
QDateTime DateTimeFromFileTime(qint64 fileTime);

// Formats a local time with a date/time pattern: d dd ddd dddd, M MM MMM MMMM, yy yyyy, h hh
// (H HH), m mm / n nn (minutes), s ss, z zzz, "AM/PM" "am/pm" "A/P" "AMPM" (12-hour clock),
// "/" the date separator, ":" the time separator, quoted text copied, anything else copied.
QString FormatDateTimePattern(const QDateTime& localTime, const QString& pattern,
                              QChar dateSeparator, QChar timeSeparator);
// The default locale's date and time separators.
QChar LocaleDateSeparator();
QChar LocaleTimeSeparator();

// A UTC file time in local time, formatted as datePattern + " " + timePattern.
QString FormatModified(qint64 fileTime, const QString& datePattern, const QString& timePattern);
QString FormatModified(const QDateTime& time, const QString& datePattern,
                       const QString& timePattern);

// Size text of the Size column in KB: a single blank when kind is "DIR" (any case); otherwise
// 1..1023 bytes count as 1024, then size / 1024 (truncated) + " KB". 64-bit throughout.
QString SizeTextKB(const QString& kind, qint64 size);

// Drive size text: below 1 KB "0 Mb", else (kb / 1000) with locale digit grouping + " Mb"
// (a quotient of 0 shows only " Mb").
QString DriveSizeText(qint64 sizeKB);
