#pragma once
// TIniFile: the initialisation-file service. A standard ini file of section lines ("[name]") and
// key lines ("key=value"), read and written by the private-profile rules:
//
// - section and key names are compared without regard to case;
// - a new key is appended after the last line of its section, a new section at the end of the
//   file; an existing key is rewritten in place, so the order of the file is kept;
// - values are read back trimmed, with one pair of enclosing double or single quotes stripped,
//   and at most MaxValueLength characters long;
// - a bare file name (no folder) lives in the user's configuration folder
//   ($XDG_CONFIG_HOME, else ~/.config).
//
// The file is read once when the object is made; changes are kept in memory until UpdateFile,
// which writes the whole file to a temporary file in the same folder, flushes it to disk and
// renames it over the old file. A crash or a full disk therefore never leaves a truncated or
// empty file: the old one stays whole until the new one is complete. Lines the service does not
// touch (comments, other sections, text in another encoding) are written back byte for byte.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <stdexcept>
#include <string>

// A write that the file system refused: "Unable to write to %s".
class EIniFileError : public std::runtime_error {
  public:
    explicit EIniFileError(const QString& message);
};

class TIniFile {
  public:
    // Longest value a read returns; longer values are cut.
    static constexpr int MaxValueLength = 2047;
    // Files larger than this are not loaded (reads give their defaults, writes are refused),
    // so a stray huge file can neither exhaust memory nor be replaced by a small one.
    static constexpr qint64 MaxFileSize = 16 * 1024 * 1024;

    // Opens the file by name (see ResolvePath) and reads it when it exists.
    explicit TIniFile(const QString& fileName);

    // The full path the file name resolves to.
    QString FileName() const { return path_; }
    // The name as given.
    QString GivenName() const { return givenName_; }

    // A bare name (no "/") resolves to the user's configuration folder; any other name is used
    // as given (relative names from the current folder).
    static QString ResolvePath(const QString& fileName);

    // The key's value, or def when the section or key is missing.
    QString ReadString(const QString& section, const QString& key, const QString& def) const;
    bool ValueExists(const QString& section, const QString& key) const;
    bool SectionExists(const QString& section) const;
    // Key names of a section in file order.
    QStringList ReadSection(const QString& section) const;

    // Sets a key (appended to its section, or rewritten in place). Line breaks in the value
    // become blanks, so a value can never add lines to the file.
    void WriteString(const QString& section, const QString& key, const QString& value);
    void DeleteKey(const QString& section, const QString& key);
    // Removes the section with all its keys.
    void EraseSection(const QString& section);

    // True when there are changes not yet written.
    bool Modified() const { return modified_; }
    // Writes the changes (nothing when unchanged). Throws EIniFileError when the file cannot be
    // written; the old file is then left as it was.
    void UpdateFile();

    // The file's text as it would be written now.
    QByteArray Text() const;

    // Test hook: when set, it is called in place of the system write for the temporary file
    // (file descriptor, data, size) and returns the number of bytes written or -1.
    static inline std::function<long(int, const char*, unsigned long)> WriteHook;

  private:
    struct Line {
        QByteArray raw;   // the line without its line break
        QString section;  // for a section line: its name, else empty
        QString key;      // for a key line: its name, else empty
        bool isSection = false;
        bool isKey = false;
    };

    static Line ParseLine(const QByteArray& raw);
    // Index of the section line, or -1.
    int FindSection(const QString& section) const;
    // Index of the key line within the section starting at sectionIndex, or -1.
    int FindKey(int sectionIndex, const QString& key) const;
    // One past the last line of the section starting at sectionIndex.
    int SectionEnd(int sectionIndex) const;
    void Load();

    QString givenName_;
    QString path_;
    QList<Line> lines_;
    QByteArray eol_ = "\n";
    bool modified_ = false;
    bool unreadable_ = false;  // exists but could not be read whole: never overwrite
};

// One-call forms of the service, reading or writing the file at once.
QString GetPrivateProfileString(const QString& section, const QString& key, const QString& def,
                                const QString& fileName);
void WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& fileName);
