// Our own properties dialog for files and folders.

#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QVBoxLayout>
#include <cerrno>

#include "browse/ShellHelpers.h"

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("ShowProperties", text);
}

std::function<void(const QByteArray&)>& propertiesHook() {
    static std::function<void(const QByteArray&)> hook;
    return hook;
}

struct TreeCount {
    qint64 bytes = 0;
    qint64 files = 0;
    qint64 folders = 0;
    bool truncated = false;
};

// Sizes a folder tree without following links; stops after a generous number of entries so
// that a huge tree does not freeze the window.
void countTree(const QByteArray& path, TreeCount& count) {
    constexpr qint64 kLimit = 200000;
    DIR* dir = ::opendir(path.constData());
    if (dir == nullptr) return;
    while (const dirent* e = ::readdir(dir)) {
        const QByteArray name(e->d_name);
        if (name == "." || name == "..") continue;
        if (count.files + count.folders >= kLimit) {
            count.truncated = true;
            break;
        }
        const QByteArray child = path + '/' + name;
        struct stat st {};
        if (::lstat(child.constData(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            ++count.folders;
            countTree(child, count);
        } else {
            ++count.files;
            if (!S_ISLNK(st.st_mode)) count.bytes += st.st_size;
        }
    }
    ::closedir(dir);
}

QString sizeText(qint64 bytes) {
    const QLocale locale;
    return tr("%1 (%2 bytes)").arg(locale.formattedDataSize(bytes), locale.toString(bytes));
}

QString permissionsText(mode_t mode) {
    const char* const letters = "rwxrwxrwx";
    QString text;
    for (int bit = 0; bit < 9; ++bit)
        text += (mode & (0400 >> bit)) ? QChar::fromLatin1(letters[bit]) : QChar(u'-');
    return text;
}

QString ownerText(const struct stat& st) {
    const struct passwd* pw = ::getpwuid(st.st_uid);
    const struct group* gr = ::getgrgid(st.st_gid);
    const QString user = pw ? QString::fromLocal8Bit(pw->pw_name) : QString::number(st.st_uid);
    const QString group = gr ? QString::fromLocal8Bit(gr->gr_name) : QString::number(st.st_gid);
    return user + u':' + group;
}

QLabel* selectable(const QString& text) {
    auto* label = new QLabel(text);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QDateTime timeOf(const struct timespec& time) {
    return QDateTime::fromMSecsSinceEpoch(qint64(time.tv_sec) * 1000 + time.tv_nsec / 1000000);
}

// The dialog reads the entry by its bytes; the text path only names it.
void runDialog(const QByteArray& native, const struct stat& st) {
    const QString path = QFile::decodeName(native);
    QDialog dialog(QApplication::activeWindow());
    dialog.setWindowTitle(
        tr("%1 Properties").arg(LastName(path).isEmpty() ? path : LastName(path)));
    auto* layout = new QVBoxLayout(&dialog);
    auto* form = new QFormLayout;
    layout->addLayout(form);

    auto* icon = new QLabel;
    icon->setPixmap(TSystemImageList::Instance().Icon(SmallIconIndex(path)).pixmap(32, 32));
    form->addRow(icon, selectable(LastName(path).isEmpty() ? path : LastName(path)));
    form->addRow(tr("Type:"), selectable(ShellTypeName(path)));
    form->addRow(tr("Location:"), selectable(FolderOf(path)));
    if (S_ISLNK(st.st_mode)) {
        QByteArray target(4096, '\0');
        const ssize_t n = ::readlink(native.constData(), target.data(), target.size() - 1);
        if (n > 0) form->addRow(tr("Link to:"), selectable(QFile::decodeName(target.left(n))));
    }
    if (S_ISDIR(st.st_mode)) {
        TreeCount count;
        countTree(native, count);
        form->addRow(tr("Size:"), selectable(sizeText(count.bytes) +
                                             (count.truncated ? tr(" or more") : QString())));
        form->addRow(tr("Contains:"), selectable(tr("%1 Files, %2 Folders")
                                                     .arg(QLocale().toString(count.files),
                                                          QLocale().toString(count.folders))));
    } else {
        form->addRow(tr("Size:"), selectable(sizeText(static_cast<qint64>(st.st_size))));
    }
    const QLocale locale;
    form->addRow(tr("Modified:"),
                 selectable(locale.toString(timeOf(st.st_mtim), QLocale::LongFormat)));
    form->addRow(tr("Accessed:"),
                 selectable(locale.toString(timeOf(st.st_atim), QLocale::LongFormat)));
    form->addRow(tr("Permissions:"), selectable(permissionsText(st.st_mode)));
    form->addRow(tr("Owner:"), selectable(ownerText(st)));

    const quint32 attributes = FileAttributesNative(native);
    auto* readOnly = new QCheckBox(tr("Read-only"));
    readOnly->setChecked(attributes & faReadOnly);
    readOnly->setEnabled(false);
    auto* hidden = new QCheckBox(tr("Hidden"));
    hidden->setChecked(attributes & faHidden);
    hidden->setEnabled(false);
    auto* attributeRow = new QHBoxLayout;
    attributeRow->addWidget(readOnly);
    attributeRow->addWidget(hidden);
    attributeRow->addStretch();
    form->addRow(tr("Attributes:"), attributeRow);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    layout->addWidget(buttons);
    dialog.exec();
}

}  // namespace

void SetPropertiesHook(std::function<void(const QByteArray& path)> hook) {
    propertiesHook() = std::move(hook);
}

bool ShowProperties(const QString& path) {
    return ShowProperties(QFile::encodeName(path));
}

bool ShowProperties(const QByteArray& nativePath) {
    const QByteArray p =
        nativePath.size() > 1 && nativePath.endsWith('/') ? nativePath.chopped(1) : nativePath;
    struct stat st {};
    errno = ENOENT;
    if (p.isEmpty() || ::lstat(p.constData(), &st) != 0) {
        QString message;
        if (errno == EACCES)
            message = QStringLiteral("Access denied");
        else if (errno == ENOMEM)
            message = QStringLiteral("Not enough memory for this operation");
        else if (!p.isEmpty() && QFileInfo(FolderOf(QFile::decodeName(p))).isDir())
            message = QStringLiteral("The specified file was not found.");
        else
            message = QStringLiteral("The specified path was not found.");
        ShowBrowseMessage(mkPlain, message);
        return false;
    }
    if (propertiesHook()) {
        propertiesHook()(p);
        return true;
    }
    runDialog(p, st);
    return true;
}
