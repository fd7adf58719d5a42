#include "settings/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <cstdlib>

EIniFileError::EIniFileError(const QString& message) : std::runtime_error(message.toStdString()) {}

namespace {

bool SameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString ConfigFolder() {
    const QByteArray xdg = qgetenv("XDG_CONFIG_HOME");
    // Only an absolute path counts, as the base directory rules ask.
    if (!xdg.isEmpty() && xdg.startsWith('/')) return QFile::decodeName(xdg);
    return QDir::homePath() + QStringLiteral("/.config");
}

QString OneLine(const QString& text) {
    QString result = text;
    for (QChar& c : result)
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) c = QLatin1Char(' ');
    return result;
}

// Writes all bytes, going on after partial writes and interrupted calls.
bool WriteAll(int fd, const char* data, qint64 size) {
    while (size > 0) {
        const long n = TIniFile::WriteHook ? TIniFile::WriteHook(fd, data, size)
                                           : static_cast<long>(::write(fd, data, size));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= n;
    }
    return true;
}

}  // namespace

TIniFile::TIniFile(const QString& fileName) : givenName_(fileName), path_(ResolvePath(fileName)) {
    Load();
}

QString TIniFile::ResolvePath(const QString& fileName) {
    if (fileName.contains(QLatin1Char('/'))) return fileName;
    return ConfigFolder() + QLatin1Char('/') + fileName;
}

TIniFile::Line TIniFile::ParseLine(const QByteArray& raw) {
    Line line;
    line.raw = raw;
    QByteArray text = raw;
    if (text.startsWith("\xEF\xBB\xBF")) text.remove(0, 3);
    text = text.trimmed();
    if (text.startsWith('[')) {
        const int close = text.indexOf(']');
        line.isSection = true;
        line.section =
            QString::fromUtf8(close < 0 ? text.mid(1) : text.mid(1, close - 1)).trimmed();
        return line;
    }
    if (text.startsWith(';')) return line;
    const int eq = text.indexOf('=');
    if (eq <= 0) return line;
    line.key = QString::fromUtf8(text.left(eq)).trimmed();
    line.isKey = !line.key.isEmpty();
    return line;
}

void TIniFile::Load() {
    lines_.clear();
    unreadable_ = false;
    const QFileInfo info(path_);
    if (!info.exists()) return;
    QFile file(path_);
    if (info.isDir() || info.size() > MaxFileSize || !file.open(QIODevice::ReadOnly)) {
        unreadable_ = true;
        return;
    }
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError || data.size() > MaxFileSize) {
        unreadable_ = true;
        return;
    }
    if (data.contains("\r\n")) eol_ = "\r\n";
    QList<QByteArray> raw = data.split('\n');
    if (!raw.isEmpty() && raw.last().isEmpty()) raw.removeLast();
    lines_.reserve(raw.size());
    for (QByteArray& r : raw) {
        if (r.endsWith('\r')) r.chop(1);
        lines_.append(ParseLine(r));
    }
}

int TIniFile::FindSection(const QString& section) const {
    for (int i = 0; i < lines_.size(); ++i)
        if (lines_[i].isSection && SameName(lines_[i].section, section)) return i;
    return -1;
}

int TIniFile::SectionEnd(int sectionIndex) const {
    int i = sectionIndex + 1;
    while (i < lines_.size() && !lines_[i].isSection)
        ++i;
    return i;
}

int TIniFile::FindKey(int sectionIndex, const QString& key) const {
    const int end = SectionEnd(sectionIndex);
    for (int i = sectionIndex + 1; i < end; ++i)
        if (lines_[i].isKey && SameName(lines_[i].key, key)) return i;
    return -1;
}

bool TIniFile::SectionExists(const QString& section) const {
    return FindSection(section) >= 0;
}

bool TIniFile::ValueExists(const QString& section, const QString& key) const {
    const int s = FindSection(section);
    return s >= 0 && FindKey(s, key) >= 0;
}

QStringList TIniFile::ReadSection(const QString& section) const {
    QStringList keys;
    const int s = FindSection(section);
    if (s < 0) return keys;
    const int end = SectionEnd(s);
    for (int i = s + 1; i < end; ++i)
        if (lines_[i].isKey) keys.append(lines_[i].key);
    return keys;
}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& def) const {
    const int s = FindSection(section);
    const int k = s < 0 ? -1 : FindKey(s, key);
    if (k < 0) return def;
    const QByteArray& raw = lines_[k].raw;
    QString value = QString::fromUtf8(raw.mid(raw.indexOf('=') + 1)).trimmed();
    // One pair of enclosing quotes is the writer's way of keeping quotes and outer blanks.
    if (value.size() >= 2) {
        const QChar first = value.front();
        if ((first == QLatin1Char('"') || first == QLatin1Char('\'')) && value.back() == first)
            value = value.mid(1, value.size() - 2);
    }
    if (value.size() > MaxValueLength) value.truncate(MaxValueLength);
    return value;
}

void TIniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    const QString name = OneLine(key).trimmed();
    const QByteArray raw = (name + QLatin1Char('=') + OneLine(value)).toUtf8();
    int s = FindSection(section);
    if (s < 0) {
        lines_.append(ParseLine((QLatin1Char('[') + OneLine(section) + QLatin1Char(']')).toUtf8()));
        s = lines_.size() - 1;
    }
    const int k = FindKey(s, name);
    if (k >= 0) {
        if (lines_[k].raw == raw) return;
        lines_[k] = ParseLine(raw);
    } else {
        // After the section's last non-blank line, so blank separators stay between sections.
        int at = SectionEnd(s);
        while (at > s + 1 && lines_[at - 1].raw.trimmed().isEmpty())
            --at;
        lines_.insert(at, ParseLine(raw));
    }
    modified_ = true;
}

void TIniFile::DeleteKey(const QString& section, const QString& key) {
    const int s = FindSection(section);
    const int k = s < 0 ? -1 : FindKey(s, key);
    if (k < 0) return;
    lines_.removeAt(k);
    modified_ = true;
}

void TIniFile::EraseSection(const QString& section) {
    int s;
    while ((s = FindSection(section)) >= 0) {
        lines_.remove(s, SectionEnd(s) - s);
        modified_ = true;
    }
}

QByteArray TIniFile::Text() const {
    QByteArray text;
    for (const Line& line : lines_) {
        text += line.raw;
        text += eol_;
    }
    return text;
}

void TIniFile::UpdateFile() {
    if (!modified_) return;
    const QString failure = QStringLiteral("Unable to write to %1").arg(path_);
    if (unreadable_) throw EIniFileError(failure);

    // Replace the file a symbolic link points at, not the link.
    QString target = path_;
    const QFileInfo info(path_);
    if (info.isSymLink()) target = info.symLinkTarget();
    const QString folder = QFileInfo(target).absolutePath();
    if (!QDir().mkpath(folder)) throw EIniFileError(failure);

    QByteArray tmpName =
        QFile::encodeName(folder + QStringLiteral("/.") + QFileInfo(target).fileName()) + ".XXXXXX";
    const int fd = ::mkstemp(tmpName.data());
    if (fd < 0) throw EIniFileError(failure);

    mode_t mode;
    struct stat st;
    if (::stat(QFile::encodeName(target).constData(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }

    const QByteArray text = Text();
    bool ok = WriteAll(fd, text.constData(), text.size());
    ok = ok && ::fchmod(fd, mode) == 0;
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(tmpName.constData(), QFile::encodeName(target).constData()) == 0;
    if (!ok) {
        ::unlink(tmpName.constData());
        throw EIniFileError(failure);
    }
    // Make the rename itself durable.
    const int dirFd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    modified_ = false;
}

QString GetPrivateProfileString(const QString& section, const QString& key, const QString& def,
                                const QString& fileName) {
    return TIniFile(fileName).ReadString(section, key, def);
}

void WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& fileName) {
    TIniFile ini(fileName);
    ini.WriteString(section, key, value);
    ini.UpdateFile();
}
