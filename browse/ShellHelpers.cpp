#include "browse/ShellHelpers.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QLocale>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QStyle>
#include <QTimeZone>
#include <QUrl>
#include <vector>

#include "toolkit/Dialogs.h"

// ---------------------------------------------------------------------------------------------
// Path strings

QString AddSlash(const QString& path) {
    if (path.isEmpty() || path.endsWith(PathDelim)) return path;
    return path + PathDelim;
}

QString DropSlash(const QString& path) {
    if (path.endsWith(PathDelim)) return path.left(path.size() - 1);
    return path;
}

QString JoinPath(const QString& folder, const QString& name) {
    if (folder.isEmpty() || name.isEmpty()) return QString();
    return AddSlash(folder) + name;
}

QString NameWithoutExt(const QString& path) {
    const QString name = path.mid(path.lastIndexOf(PathDelim) + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? name : name.left(dot);
}

QString TerminateList(const QString& text) {
    if (text.endsWith(QChar(u'\0'))) return text;
    return text + QChar(u'\0');
}

QString MakePathList(const QStringList& paths) {
    QString list;
    for (const QString& p : paths)
        list += p + QChar(u'\0');
    return list;
}

QStringList SplitPathList(const QString& list) {
    QStringList paths = list.split(QChar(u'\0'), Qt::SkipEmptyParts);
    return paths;
}

QString LastName(const QString& path) {
    const QString p = path.size() > 1 ? DropSlash(path) : path;
    return p.mid(p.lastIndexOf(PathDelim) + 1);
}

QString FolderOf(const QString& path) {
    const QString p = path.size() > 1 ? DropSlash(path) : path;
    const qsizetype slash = p.lastIndexOf(PathDelim);
    return slash < 0 ? QString() : p.left(slash + 1);
}

namespace {

bool matchFrom(const QString& name, qsizetype n, const QString& pattern, qsizetype p) {
    while (p < pattern.size()) {
        const QChar pc = pattern.at(p);
        if (pc == u'*') {
            while (p < pattern.size() && pattern.at(p) == u'*')
                ++p;
            if (p == pattern.size()) return true;
            for (qsizetype k = n; k <= name.size(); ++k)
                if (matchFrom(name, k, pattern, p)) return true;
            return false;
        }
        if (n >= name.size()) return false;
        if (pc != u'?' && pc.toCaseFolded() != name.at(n).toCaseFolded()) return false;
        ++p;
        ++n;
    }
    return n == name.size();
}

}  // namespace

bool WildcardMatch(const QString& name, const QString& pattern) {
    // "*.*" matches every name, also names without a dot, as directory listings do.
    if (pattern == QLatin1String("*.*")) return true;
    return matchFrom(name, 0, pattern, 0);
}

// ---------------------------------------------------------------------------------------------
// Message boxes

namespace {
TMessageHook& messageHook() {
    static TMessageHook hook;
    return hook;
}
}  // namespace

void SetMessageHook(TMessageHook hook) {
    messageHook() = std::move(hook);
}

bool ShowBrowseMessage(TMsgKind kind, const QString& text, QWidget* owner, bool defaultNo) {
    if (messageHook()) return messageHook()(kind, text);
    if (owner == nullptr) owner = QApplication::activeWindow();
    switch (kind) {
        case mkError:
            return MessageDlg(text, mtError, mbOK, owner) == mrOk;
        case mkWarning:
            return MessageDlg(text, mtWarning, mbOK, owner) == mrOk;
        case mkInformation:
            return MessageDlg(text, mtInformation, mbOK, owner) == mrOk;
        case mkConfirmation:
            return MessageDlg(text, mtConfirmation, TMsgDlgButtons(mbYes) | mbNo, owner,
                              defaultNo ? mbNo : mbYes) == mrYes;
        case mkPlain:
            break;
    }
    return MessageDlg(text, mtCustom, mbOK, owner) == mrOk;
}

// ---------------------------------------------------------------------------------------------
// Launching

namespace {

// Result codes as the Windows shell gives them.
constexpr int kLaunchOk = 42;
constexpr int kFileNotFound = 2;
constexpr int kPathNotFound = 3;
constexpr int kBadFormat = 11;
constexpr int kNoAssociation = 31;

// The file-search programs F3 opens on a folder, the first one installed.
const char* const kFindTools[] = {"catfish", "kfind", "gnome-search-tool", "searchmonkey"};

bool isProgram(const QFileInfo& info) {
    if (!info.isFile() || !info.isExecutable()) return false;
    if (info.suffix().isEmpty()) return true;
    static const QStringList programTypes = {
        "application/x-executable",     "application/x-sharedlib", "application/x-shellscript",
        "application/x-pie-executable", "text/x-python",           "application/x-perl"};
    const QMimeType mime =
        QMimeDatabase().mimeTypeForFile(info.fileName(), QMimeDatabase::MatchExtension);
    for (const QString& type : programTypes)
        if (mime.inherits(type)) return true;
    return false;
}

// Whether the desktop names an application for the file's type. When xdg-mime cannot be asked,
// the opener is left to find out.
bool hasDefaultApplication(const QString& path) {
    const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (xdgMime.isEmpty()) return true;
    QProcess query;
    query.start(xdgMime, {QStringLiteral("query"), QStringLiteral("default"),
                          QMimeDatabase().mimeTypeForFile(path).name()});
    if (!query.waitForFinished(3000)) {
        query.kill();
        query.waitForFinished(500);
        return true;
    }
    return query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0 ||
           !query.readAllStandardOutput().trimmed().isEmpty();
}

int openPath(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path)) ? kLaunchOk : kNoAssociation;
}

int launch(const QString& verb, const QString& file, const QString& parameters,
           const QString& workFolder) {
    const QString v = verb.isEmpty() ? QStringLiteral("open") : verb.toLower();
    if (file.isEmpty()) return kFileNotFound;
    if (file.contains(QLatin1String("://")) && (v == u"open" || v == u"edit"))
        return QDesktopServices::openUrl(QUrl(file)) ? kLaunchOk : kNoAssociation;

    QString path = file;
    if (QDir::isRelativePath(path) && !workFolder.isEmpty()) path = JoinPath(workFolder, path);
    const QFileInfo info(path);
    if (!info.exists()) return QFileInfo(FolderOf(path)).isDir() ? kFileNotFound : kPathNotFound;

    if (v == u"open" || v == u"edit") {
        if (isProgram(info)) {
            const QString dir = workFolder.isEmpty() ? info.absolutePath() : workFolder;
            return QProcess::startDetached(info.absoluteFilePath(),
                                           QProcess::splitCommand(parameters), dir)
                       ? kLaunchOk
                       : kBadFormat;
        }
        if (info.isFile() && !hasDefaultApplication(info.absoluteFilePath())) return kNoAssociation;
        return openPath(info.absoluteFilePath());
    }
    if (v == u"explore") {
        if (!info.isDir()) return kNoAssociation;
        return openPath(info.absoluteFilePath());
    }
    if (v == u"find") {
        if (!info.isDir()) return kNoAssociation;
        const QString dir = info.absoluteFilePath();
        struct Tool {
            const char* name;
            QStringList args;
        };
        const Tool tools[] = {{kFindTools[0], {"--path=" + dir}},
                              {kFindTools[1], {dir}},
                              {kFindTools[2], {"--path=" + dir}},
                              {kFindTools[3], {dir}}};
        for (const Tool& tool : tools) {
            const QString exe = QStandardPaths::findExecutable(QString::fromLatin1(tool.name));
            if (!exe.isEmpty() && QProcess::startDetached(exe, tool.args, dir)) return kLaunchOk;
        }
        return kNoAssociation;
    }
    if (v == u"properties") {
        ShowProperties(info.absoluteFilePath());
        return kLaunchOk;
    }
    if (v == u"print") {
        const QString lp = QStandardPaths::findExecutable(QStringLiteral("lp"));
        if (lp.isEmpty() || !info.isFile()) return kNoAssociation;
        return QProcess::startDetached(lp, {info.absoluteFilePath()}) ? kLaunchOk : kNoAssociation;
    }
    return kNoAssociation;
}

}  // namespace

namespace {
TLaunchHook& launchHook() {
    static TLaunchHook hook;
    return hook;
}
std::function<QString(const QString&)>& pickFolderHook() {
    static std::function<QString(const QString&)> hook;
    return hook;
}
}  // namespace

void SetLaunchHook(TLaunchHook hook) {
    launchHook() = std::move(hook);
}

bool LaunchHookSet() {
    return static_cast<bool>(launchHook());
}

void SetPickFolderHook(std::function<QString(const QString& startFolder)> hook) {
    pickFolderHook() = std::move(hook);
}

namespace {

// Starts a program detached from this process with arguments and a working folder given as
// bytes (QProcess passes text, which cannot carry a name that is not valid in the locale's
// encoding).
bool startDetachedNative(const QByteArray& program, const QList<QByteArray>& arguments,
                         const QByteArray& workFolder) {
    // Everything the child needs is made before the fork.
    std::vector<QByteArray> kept{program};
    kept.insert(kept.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (QByteArray& a : kept)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child < 0) return false;
    if (child == 0) {
        // The grandchild runs the program, so that it is nobody's zombie.
        if (::fork() != 0) ::_exit(0);
        ::setsid();
        if (!workFolder.isEmpty() && ::chdir(workFolder.constData()) != 0) ::_exit(127);
        ::execv(program.constData(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int ShellLaunchWithFile(const QString& program, const QByteArray& file) {
    const QString name = QFile::decodeName(file.mid(file.lastIndexOf('/') + 1));
    const QString folder = QFile::decodeName(file.left(file.lastIndexOf('/') + 1));
    const QString parameters = u'"' + name + u'"';
    // A name that text keeps goes the ordinary way (and through the tests' hook).
    if (launchHook() || QFile::encodeName(QFile::decodeName(file)) == file)
        return ShellLaunch(QStringLiteral("Open"), program, parameters, swShowNormal, folder);
    const QFileInfo info(program);
    int code = kLaunchOk;
    if (!info.exists())
        code = kFileNotFound;
    else if (!isProgram(info))
        code = kNoAssociation;
    else if (!startDetachedNative(QFile::encodeName(info.absoluteFilePath()),
                                  {file.mid(file.lastIndexOf('/') + 1)},
                                  file.left(file.lastIndexOf('/') + 1)))
        code = kBadFormat;
    if (code <= 32)
        ShowBrowseMessage(mkError,
                          MessageText(msgErrorCant) + "Open" + MessageText(msgFile) + program);
    return code;
}

int ShellLaunch(const QString& verb, const QString& file, const QString& parameters, int showState,
                const QString& workFolder) {
    Q_UNUSED(showState);
    const int code = launchHook() ? launchHook()(verb, file, parameters, workFolder)
                                  : launch(verb, file, parameters, workFolder);
    if (code <= 32) {
        QString text = MessageText(msgErrorCant) + verb + MessageText(msgFile) + file;
        // Find runs a file-search program of the desktop: say which ones when none is there.
        if (code == kNoAssociation &&
            verb.compare(QLatin1String("find"), Qt::CaseInsensitive) == 0 &&
            QFileInfo(file).isDir()) {
            QStringList tools;
            for (const char* tool : kFindTools)
                tools << QLatin1String(tool);
            text = QCoreApplication::translate(
                       "ShellLaunch",
                       "No file-search program is installed. F3 searches the folder with %1; "
                       "install one of them.")
                       .arg(tools.join(QStringLiteral(", ")));
        }
        // Say why when the reason is known: nothing on this desktop opens the file's type.
        if (code == kNoAssociation &&
            verb.compare(QLatin1String("open"), Qt::CaseInsensitive) == 0 &&
            QFileInfo(file).isFile()) {
            const QMimeType mime = QMimeDatabase().mimeTypeForFile(file);
            text += QStringLiteral("\n\n") +
                    QCoreApplication::translate("ShellLaunch",
                                                "No application is set to open files of the type "
                                                "\"%1\" (%2). Choose one in the desktop's file "
                                                "manager with \"Open With\".")
                        .arg(mime.comment(), mime.name());
        }
        ShowBrowseMessage(mkError, text);
    }
    return code;
}

// ---------------------------------------------------------------------------------------------
// Folders

bool PickFolder(QWidget* owner, bool startAtNetwork, QString& folder) {
    QString start = startAtNetwork ? SpecialFolder(sfNetHood) : QString();
    if (start.isEmpty()) start = QDir::homePath();
    const QString chosen = pickFolderHook() ? pickFolderHook()(start)
                                            : QFileDialog::getExistingDirectory(
                                                  owner, MessageText(msgSpecifyDirectory), start,
                                                  QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty()) return false;
    folder = AddSlash(chosen);
    return true;
}

bool ReportIfExists(const QString& path) {
    if (path.isEmpty()) return false;
    const QString p = path.size() > 1 ? DropSlash(path) : path;
    struct stat st {};
    if (::lstat(QFile::encodeName(p).constData(), &st) != 0) return false;
    ShowBrowseMessage(mkError,
                      u'"' + LastName(p) + QStringLiteral("\" ") + MessageText(msgAlreadyExists));
    return true;
}

QString DriveKindText(int kind, TLanguage language, const QString& current) {
    if (kind < dkUnknown || kind > dkRamDisk) return current;
    return CatalogueText(language, crDriveUnknown + kind);
}

// ---------------------------------------------------------------------------------------------
// Attributes

namespace {

bool userMayNotWrite(const struct stat& st, const QByteArray& path) {
    const uid_t uid = ::geteuid();
    bool writable;
    if (uid == 0)
        writable = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
    else if (st.st_uid == uid)
        writable = (st.st_mode & S_IWUSR) != 0;
    else
        writable = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    // access() also catches read-only mounts and ACLs for ordinary users.
    if (writable && uid != 0 && ::access(path.constData(), W_OK) != 0) writable = false;
    return !writable;
}

}  // namespace

quint32 FileAttributes(const QString& path) {
    return FileAttributesNative(QFile::encodeName(path));
}

quint32 FileAttributesNative(const QByteArray& path) {
    if (path.isEmpty()) return 0;
    const QByteArray native = path.size() > 1 && path.endsWith('/') ? path.chopped(1) : path;
    struct stat st {};
    if (::stat(native.constData(), &st) != 0 && ::lstat(native.constData(), &st) != 0) return 0;
    quint32 attributes = EntryAttributes(st.st_mode, native.mid(native.lastIndexOf('/') + 1));
    if (userMayNotWrite(st, native)) attributes |= faReadOnly;
    return attributes;
}

quint32 EntryAttributes(quint32 mode, const QByteArray& name) {
    quint32 attributes = 0;
    if (S_ISDIR(mode))
        attributes |= faDirectory;
    else if (S_ISREG(mode) || S_ISLNK(mode))
        attributes |= faArchive;
    else
        attributes |= faSysFile;
    if (name.startsWith('.') && name != "." && name != "..") attributes |= faHidden;
    return attributes;
}

quint32 FileAttributes(const QFileInfo& info) {
    return FileAttributes(info.filePath());
}

QString AttributeLetters(quint32 attributes) {
    QString letters;
    if (attributes & faArchive) letters += u'A';
    if (attributes & faReadOnly) letters += u'R';
    if (attributes & faHidden) letters += u'H';
    if (attributes & faSysFile) letters += u'S';
    return letters;
}

// ---------------------------------------------------------------------------------------------
// Icons and type names

TSystemImageList& TSystemImageList::Instance() {
    static TSystemImageList list;
    return list;
}

int TSystemImageList::Count() const {
    return static_cast<int>(icons_.size());
}

QIcon TSystemImageList::Icon(int index) const {
    if (index < 0 || index >= icons_.size()) return QIcon();
    return icons_.at(index);
}

int TSystemImageList::Add(const QIcon& icon) {
    icons_.append(icon);
    return static_cast<int>(icons_.size() - 1);
}

int TSystemImageList::IndexFor(const QString& key, const std::function<QIcon()>& make) {
    const auto it = byKey_.constFind(key);
    if (it != byKey_.constEnd()) return it.value();
    const int index = Add(make());
    byKey_.insert(key, index);
    return index;
}

// The resources live in this static library; registering them keeps the linker from dropping
// them (outside any namespace, as the registration macro needs).
static void InitTypeIcons() {
    Q_INIT_RESOURCE(TypeIcons);
}

QIcon BundledTypeIcon(const QString& genericIconName) {
    static const bool registered = (InitTypeIcons(), true);
    Q_UNUSED(registered);
    QIcon icon;
    for (int size : {16, 32}) {
        const QString file = QStringLiteral(":/types/%1-%2.png").arg(genericIconName).arg(size);
        if (QFile::exists(file)) icon.addFile(file, QSize(size, size));
    }
    return icon;
}

namespace {

QMimeDatabase& mimeDatabase() {
    static QMimeDatabase db;
    return db;
}

QIcon providerIcon(QFileIconProvider::IconType type) {
    static QFileIconProvider provider;
    return provider.icon(type);
}

QIcon themeIcon(const QStringList& names, const std::function<QIcon()>& fallback) {
    for (const QString& name : names) {
        if (name.isEmpty()) continue;
        const QIcon icon = QIcon::fromTheme(name);
        if (!icon.isNull()) return icon;
    }
    return fallback();
}

int folderIconIndex(bool open) {
    return TSystemImageList::Instance().IndexFor(open ? "folder-open" : "folder", [open] {
        return themeIcon({open ? "folder-open" : "folder"}, [open] {
            if (open && QApplication::style() != nullptr)
                return QApplication::style()->standardIcon(QStyle::SP_DirOpenIcon);
            return providerIcon(QFileIconProvider::Folder);
        });
    });
}

int fileIconIndex(const QString& path) {
    const QMimeType mime =
        mimeDatabase().mimeTypeForFile(LastName(path), QMimeDatabase::MatchExtension);
    return TSystemImageList::Instance().IndexFor("mime:" + mime.name(), [&mime] {
        return themeIcon({mime.iconName(), mime.genericIconName()}, [&mime] {
            const QIcon bundled = BundledTypeIcon(mime.genericIconName());
            return bundled.isNull() ? providerIcon(QFileIconProvider::File) : bundled;
        });
    });
}

int iconIndex(const QString& path, bool open) {
    if (path.isEmpty()) return fileIconIndex(path);
    const QString p = path.size() > 1 ? DropSlash(path) : path;
    struct stat st {};
    if (::stat(QFile::encodeName(p).constData(), &st) == 0 && S_ISDIR(st.st_mode)) {
        const int kind = MountedDriveKind(p);
        if (kind >= 0) return DriveIconIndex(static_cast<TDriveKind>(kind));
        return folderIconIndex(open);
    }
    return fileIconIndex(p);
}

}  // namespace

int SmallIconIndex(const QString& path) {
    return iconIndex(path, false);
}

int OpenIconIndex(const QString& path) {
    return iconIndex(path, true);
}

int DriveIconIndex(TDriveKind kind) {
    return TSystemImageList::Instance().IndexFor(
        "drive:" + QString::number(static_cast<int>(kind)), [kind] {
            QStringList names;
            QFileIconProvider::IconType fallback = QFileIconProvider::Drive;
            switch (kind) {
                case dkRemovable:
                    names = {"drive-removable-media", "media-removable"};
                    break;
                case dkRemote:
                    names = {"folder-remote", "network-server"};
                    fallback = QFileIconProvider::Network;
                    break;
                case dkCDRom:
                    names = {"media-optical", "drive-optical"};
                    break;
                case dkRamDisk:
                    names = {"media-flash", "drive-harddisk"};
                    break;
                default:
                    names = {"drive-harddisk"};
                    break;
            }
            return themeIcon(names, [fallback] { return providerIcon(fallback); });
        });
}

QString ShellTypeName(const QString& path) {
    static QHash<QString, QString> comments;
    QMimeType mime;
    const QString p = path.size() > 1 ? DropSlash(path) : path;
    struct stat st {};
    if (!p.isEmpty() && ::stat(QFile::encodeName(p).constData(), &st) == 0 && S_ISDIR(st.st_mode))
        mime = mimeDatabase().mimeTypeForName(QStringLiteral("inode/directory"));
    else
        mime = mimeDatabase().mimeTypeForFile(LastName(p), QMimeDatabase::MatchExtension);
    auto it = comments.constFind(mime.name());
    if (it == comments.constEnd()) it = comments.insert(mime.name(), mime.comment().left(79));
    return it.value();
}

// ---------------------------------------------------------------------------------------------
// Special folders

QString SpecialFolder(int kind) {
    QString path;
    switch (kind) {
        case sfDesktop:
            path = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
            break;
        case sfNetHood: {
            const QString gvfs = QStringLiteral("/run/user/%1/gvfs").arg(::getuid());
            if (QFileInfo(gvfs).isDir()) path = gvfs;
            break;
        }
        case sfPersonal:
            path = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
            break;
        case sfPrograms:
        case sfStartMenu:
            path = QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
            break;
        case sfSendTo: {
            const QString data =
                QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
            if (!data.isEmpty()) {
                path = data + QStringLiteral("/velkaro/SendTo");
                QDir().mkpath(path);
            }
            break;
        }
        case sfStartUp: {
            const QString config =
                QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
            if (!config.isEmpty()) path = config + QStringLiteral("/autostart");
            break;
        }
        case sfWindows:
            path = QStringLiteral("/usr/bin");
            break;
        case sfSystem:
            path = QStringLiteral("/usr/lib");
            break;
        default:  // sfFavorites and unknown kinds: no such folder here
            break;
    }
    return AddSlash(path);
}

// ---------------------------------------------------------------------------------------------
// Formatting

namespace {
constexpr qint64 kFileTimeUnixEpoch = 116444736000000000LL;  // 1970-01-01 in 100 ns units
}

qint64 FileTimeFromDateTime(const QDateTime& time) {
    return time.toMSecsSinceEpoch() * 10000 + kFileTimeUnixEpoch;
}

qint64 FileTimeFromUnix(qint64 seconds, qint64 nanoseconds) {
    return seconds * 10000000LL + nanoseconds / 100 + kFileTimeUnixEpoch;
}

QDateTime DateTimeFromFileTime(qint64 fileTime) {
    const qint64 units = fileTime - kFileTimeUnixEpoch;
    qint64 msecs = units / 10000;
    if (units % 10000 < 0) --msecs;  // floor for times before 1970
    return QDateTime::fromMSecsSinceEpoch(msecs, QTimeZone::utc());
}

namespace {

QChar separatorOf(const QString& pattern, QChar fallback) {
    bool quoted = false;
    for (const QChar c : pattern) {
        if (c == u'\'') quoted = !quoted;
        if (quoted || c.isLetter() || c.isSpace() || c == u'\'') continue;
        return c;
    }
    return fallback;
}

qsizetype runLength(const QString& s, qsizetype i, QChar c) {
    qsizetype n = 0;
    while (i + n < s.size() && s.at(i + n) == c)
        ++n;
    return n;
}

QString pad2(int v) {
    return QString::number(v).rightJustified(2, u'0');
}

}  // namespace

QChar LocaleDateSeparator() {
    return separatorOf(QLocale().dateFormat(QLocale::ShortFormat), u'/');
}

QChar LocaleTimeSeparator() {
    return separatorOf(QLocale().timeFormat(QLocale::ShortFormat), u':');
}

QString FormatDateTimePattern(const QDateTime& t, const QString& pattern, QChar dateSeparator,
                              QChar timeSeparator) {
    const QLocale locale;
    const QDate date = t.date();
    const QTime time = t.time();
    const bool twelveHour = pattern.contains(QLatin1String("AM/PM"), Qt::CaseInsensitive) ||
                            pattern.contains(QLatin1String("A/P"), Qt::CaseInsensitive) ||
                            pattern.contains(QLatin1String("AMPM"), Qt::CaseInsensitive) ||
                            pattern.contains(QLatin1String("AP"), Qt::CaseInsensitive);
    QString out;
    bool afterHour = false;
    qsizetype i = 0;
    while (i < pattern.size()) {
        const QChar c = pattern.at(i);
        if (c == u'\'' || c == u'"') {
            const qsizetype end = pattern.indexOf(c, i + 1);
            const qsizetype stop = end < 0 ? pattern.size() : end;
            out += pattern.mid(i + 1, stop - i - 1);
            i = end < 0 ? pattern.size() : end + 1;
            continue;
        }
        const qsizetype n = runLength(pattern, i, c);
        // d/M: the number, two digits, then the short and the long name.
        const auto numberOrName = [&](int number, auto name) {
            if (n <= 2) return n == 1 ? QString::number(number) : pad2(number);
            return name(n == 3 ? QLocale::ShortFormat : QLocale::LongFormat);
        };
        if (c == u'd') {
            out += numberOrName(date.day(), [&](QLocale::FormatType format) {
                return locale.dayName(date.dayOfWeek(), format);
            });
            i += n;
        } else if (c == u'M' || (c == u'm' && !afterHour)) {
            out += numberOrName(date.month(), [&](QLocale::FormatType format) {
                return locale.monthName(date.month(), format);
            });
            i += n;
        } else if (c == u'y') {
            if (n <= 2)
                out += pad2(date.year() % 100);
            else
                out += QString::number(date.year()).rightJustified(4, u'0');
            i += n;
        } else if (c == u'h' || c == u'H') {
            int hour = time.hour();
            if (c == u'h' && twelveHour) {
                hour %= 12;
                if (hour == 0) hour = 12;
            }
            out += n >= 2 ? pad2(hour) : QString::number(hour);
            afterHour = true;
            i += n;
            continue;
        } else if (c == u'n' || c == u'm') {
            out += n >= 2 ? pad2(time.minute()) : QString::number(time.minute());
            i += n;
        } else if (c == u's') {
            out += n >= 2 ? pad2(time.second()) : QString::number(time.second());
            i += n;
        } else if (c == u'z') {
            out += n >= 3 ? QString::number(time.msec()).rightJustified(3, u'0')
                          : QString::number(time.msec());
            i += n;
        } else if (c == u'A' || c == u'a') {
            const QStringView rest = QStringView(pattern).mid(i);
            const bool pm = time.hour() >= 12;
            if (rest.startsWith(QLatin1String("AM/PM"), Qt::CaseInsensitive)) {
                const bool lower = rest.at(0) == u'a';
                out += lower ? (pm ? "pm" : "am") : (pm ? "PM" : "AM");
                i += 5;
            } else if (rest.startsWith(QLatin1String("A/P"), Qt::CaseInsensitive)) {
                out += rest.at(0) == u'a' ? (pm ? "p" : "a") : (pm ? "P" : "A");
                i += 3;
            } else if (rest.startsWith(QLatin1String("AMPM"), Qt::CaseInsensitive)) {
                out += pm ? locale.pmText() : locale.amText();
                i += 4;
            } else if (rest.startsWith(QLatin1String("AP"), Qt::CaseInsensitive)) {
                out += rest.at(0) == u'a' ? (pm ? "pm" : "am") : (pm ? "PM" : "AM");
                i += 2;
            } else {
                out += c;
                ++i;
            }
        } else if (c == u'/') {
            out += dateSeparator;
            ++i;
            continue;
        } else if (c == u':') {
            out += timeSeparator;
            ++i;
            continue;
        } else {
            out += c;
            ++i;
            if (c.isSpace() || !c.isLetter()) continue;
        }
        afterHour = false;
    }
    return out;
}

QString FormatModified(const QDateTime& time, const QString& datePattern,
                       const QString& timePattern) {
    const QDateTime local = time.toLocalTime();
    const QChar ds = LocaleDateSeparator();
    const QChar ts = LocaleTimeSeparator();
    return FormatDateTimePattern(local, datePattern, ds, ts) + u' ' +
           FormatDateTimePattern(local, timePattern, ds, ts);
}

QString FormatModified(qint64 fileTime, const QString& datePattern, const QString& timePattern) {
    return FormatModified(DateTimeFromFileTime(fileTime), datePattern, timePattern);
}

QString SizeTextKB(const QString& kind, qint64 size) {
    if (kind.compare(QLatin1String("DIR"), Qt::CaseInsensitive) == 0) return QStringLiteral(" ");
    if (size < 0) size = 0;
    if (size > 0 && size < 1024) size = 1024;
    return QString::number(size / 1024) + QStringLiteral(" KB");
}

QString DriveSizeText(qint64 sizeKB) {
    if (sizeKB < 1) return QStringLiteral("0 Mb");
    const qint64 mb = sizeKB / 1000;
    if (mb == 0) return QStringLiteral(" Mb");
    return QLocale().toString(mb) + QStringLiteral(" Mb");
}
