#include "settings/IniFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <cstdlib>

#include <gtest/gtest.h>

namespace {

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

void WriteAll(const QString& path, const QByteArray& data) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(data);
}

class IniFileTest : public testing::Test {
  protected:
    void TearDown() override { TIniFile::WriteHook = nullptr; }
    QString Path(const QString& name = QStringLiteral("test.ini")) const {
        return dir_.filePath(name);
    }
    QTemporaryDir dir_;
};

TEST_F(IniFileTest, NewKeysAppendToTheirSectionAndExistingKeysAreRewrittenInPlace) {
    WriteAll(Path(), "; comment \xff kept\n[One]\nA=1\nB=2\n\n[Two]\nC=3\n");
    TIniFile ini(Path());
    ini.WriteString("one", "a", "10");   // existing key, other letter case
    ini.WriteString("ONE", "New", "x");  // appended after B, before the blank separator
    ini.WriteString("Three", "D", "4");  // new section at the end
    ini.WriteString("two", "C", "3");    // unchanged
    ini.UpdateFile();
    EXPECT_EQ(ReadAll(Path()),
              QByteArray("; comment \xff kept\n[One]\na=10\nB=2\nNew=x\n\n[Two]\nC=3\n"
                         "[Three]\nD=4\n"));
    TIniFile again(Path());
    EXPECT_EQ(again.ReadString("ONE", "A", "-"), "10");
    EXPECT_EQ(again.ReadString("three", "d", "-"), "4");
    EXPECT_EQ(again.ReadString("One", "Missing", "def"), "def");
    EXPECT_EQ(again.ReadString("Nowhere", "A", "def"), "def");
    EXPECT_EQ(again.ReadSection("one"), QStringList({"a", "B", "New"}));
}

TEST_F(IniFileTest, ReadStripsOnePairOfQuotesTrimsAndLimitsLength) {
    const QByteArray longValue(3000, 'v');
    WriteAll(Path(), "[S]\r\nA = \"x y\" \r\nB='z'\r\nC=\"\"q\"\"\r\nD=\"\r\nE=" + longValue +
                         "\r\nF=\r\n");
    TIniFile ini(Path());
    EXPECT_EQ(ini.ReadString("S", "A", ""), "x y");
    EXPECT_EQ(ini.ReadString("S", "B", ""), "z");
    EXPECT_EQ(ini.ReadString("S", "C", ""), "\"q\"");
    EXPECT_EQ(ini.ReadString("S", "D", ""), "\"");
    EXPECT_EQ(ini.ReadString("S", "E", "").size(), TIniFile::MaxValueLength);
    EXPECT_EQ(ini.ReadString("S", "F", "def"), "");  // present but empty is not the default
    // The file's own line ends are kept when it is written back.
    ini.WriteString("S", "G", "1");
    EXPECT_TRUE(ini.Text().endsWith("F=\r\nG=1\r\n"));
}

TEST_F(IniFileTest, EraseSectionAndLineBreaksInValues) {
    TIniFile ini(Path());
    ini.WriteString("Keep", "K", "1");
    ini.WriteString("User.List", "Count", "2");
    ini.WriteString("User.List", "Item0", "a");
    ini.WriteString("Keep", "Evil", "x\n[Keep]\nK=2");
    ini.EraseSection("user.list");
    EXPECT_FALSE(ini.SectionExists("User.List"));
    EXPECT_EQ(ini.Text(), QByteArray("[Keep]\nK=1\nEvil=x [Keep] K=2\n"));
    EXPECT_EQ(ini.ReadString("Keep", "K", ""), "1");
}

TEST_F(IniFileTest, BareNameLivesInTheConfigurationFolder) {
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", dir_.path().toUtf8());
    EXPECT_EQ(TIniFile::ResolvePath("Velkaro.ini"), dir_.filePath("Velkaro.ini"));
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(TIniFile::ResolvePath("Velkaro.ini"), QDir::homePath() + "/.config/Velkaro.ini");
    EXPECT_EQ(TIniFile::ResolvePath("sub/Velkaro.ini"), "sub/Velkaro.ini");
    // The folder is made by the first save.
    qputenv("XDG_CONFIG_HOME", dir_.filePath("new/config").toUtf8());
    WritePrivateProfileString("User", "Key", "Value", "Velkaro.ini");
    EXPECT_EQ(ReadAll(dir_.filePath("new/config/Velkaro.ini")), "[User]\nKey=Value\n");
    EXPECT_EQ(GetPrivateProfileString("user", "KEY", "", "Velkaro.ini"), "Value");
    if (saved.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", saved);
}

TEST_F(IniFileTest, FailedWriteLeavesTheOldFileWhole) {
    const QByteArray old = "[User]\nFormVersion=0\nNormPos=1,2,3,4\n";
    WriteAll(Path(), old);
    TIniFile ini(Path());
    for (int i = 0; i < 200; ++i)
        ini.WriteString("User", QString("Key%1").arg(i), "value");
    // The disk fills up after 100 bytes of the new file.
    long budget = 100;
    TIniFile::WriteHook = [&budget](int fd, const char* data, unsigned long size) -> long {
        if (budget <= 0) {
            errno = ENOSPC;
            return -1;
        }
        const long n = ::write(fd, data, std::min<long>(budget, static_cast<long>(size)));
        if (n > 0) budget -= n;
        return n;
    };
    try {
        ini.UpdateFile();
        FAIL() << "the write should fail";
    } catch (const EIniFileError& error) {
        EXPECT_EQ(QString::fromStdString(error.what()), "Unable to write to " + Path());
    }
    EXPECT_EQ(ReadAll(Path()), old);
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"test.ini"}));
    // Once the disk has room again the same changes are written whole.
    TIniFile::WriteHook = nullptr;
    ini.UpdateFile();
    EXPECT_EQ(TIniFile(Path()).ReadString("User", "Key199", ""), "value");
    EXPECT_EQ(TIniFile(Path()).ReadString("User", "NormPos", ""), "1,2,3,4");
}

TEST_F(IniFileTest, AFileThatCannotBeReadIsNeverReplaced) {
    QDir(dir_.path()).mkdir("folder.ini");  // a folder where the file should be
    TIniFile ini(dir_.filePath("folder.ini"));
    EXPECT_EQ(ini.ReadString("User", "A", "def"), "def");
    ini.WriteString("User", "A", "1");
    EXPECT_THROW(ini.UpdateFile(), EIniFileError);
    EXPECT_TRUE(QFileInfo(dir_.filePath("folder.ini")).isDir());
}

TEST_F(IniFileTest, SaveKeepsPermissionsAndReplacesTheLinkTarget) {
    WriteAll(Path("real.ini"), "[A]\nB=1\n");
    QFile::setPermissions(Path("real.ini"), QFile::ReadOwner | QFile::WriteOwner);
    ASSERT_TRUE(QFile::link(Path("real.ini"), Path("link.ini")));
    WritePrivateProfileString("A", "B", "2", Path("link.ini"));
    EXPECT_TRUE(QFileInfo(Path("link.ini")).isSymLink());
    EXPECT_EQ(ReadAll(Path("real.ini")), "[A]\nB=2\n");
    const QFile::Permissions perms = QFile::permissions(Path("real.ini"));
    EXPECT_TRUE(perms.testFlag(QFile::WriteOwner));
    EXPECT_FALSE(perms & (QFile::ReadGroup | QFile::ReadOther));
}

}  // namespace
