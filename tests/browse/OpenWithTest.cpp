// The applications offered to open a file: read from a temporary tree of desktop entries and
// mimeapps.list files, the default first; and the Exec lines made into programs and arguments.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "browse/OpenWith.h"

namespace {

class OpenWithTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        for (const char* name :
             {"XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS"})
            saved_ << qgetenv(name);
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir_.filePath("home")));
        // The system's folders stay after the tree's, so that the MIME database stays what it
        // is; only the tree's applications are compared.
        const QByteArray system = qEnvironmentVariableIsEmpty("XDG_DATA_DIRS")
                                      ? QByteArray("/usr/local/share:/usr/share")
                                      : qgetenv("XDG_DATA_DIRS");
        qputenv("XDG_DATA_DIRS", QFile::encodeName(dir_.filePath("sys")) + ':' + system);
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.filePath("config")));
        qputenv("XDG_CONFIG_DIRS", QFile::encodeName(dir_.filePath("etc")));
        desktop_ = qgetenv("XDG_CURRENT_DESKTOP");
        qunsetenv("XDG_CURRENT_DESKTOP");
    }
    void TearDown() override {
        int i = 0;
        for (const char* name :
             {"XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS"}) {
            if (saved_[i].isEmpty())
                qunsetenv(name);
            else
                qputenv(name, saved_[i]);
            ++i;
        }
        if (!desktop_.isEmpty()) qputenv("XDG_CURRENT_DESKTOP", desktop_);
    }

    void Write(const QString& relative, const QByteArray& text) {
        const QString path = dir_.filePath(relative);
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    void App(const QString& relative, const QByteArray& extra) {
        Write(relative, "[Desktop Entry]\nType=Application\nName=" +
                            QFileInfo(relative).baseName().toUtf8() + "\nExec=prog %f\n" + extra);
    }

    QTemporaryDir dir_;
    QList<QByteArray> saved_;
    QByteArray desktop_;
};

TEST_F(OpenWithTest, ApplicationsComeDefaultFirstWithoutHiddenOrRemovedOnes) {
    App("home/applications/viewer.desktop", "MimeType=image/png;\n");
    App("home/applications/shadow.desktop", "Hidden=true\n");
    App("sys/applications/shadow.desktop", "MimeType=image/png;\n");
    App("sys/applications/editor.desktop", "MimeType=image/png;text/plain;\n");
    App("sys/applications/gone.desktop", "MimeType=image/png;\nHidden=true\n");
    App("sys/applications/quiet.desktop", "MimeType=image/png;\nNoDisplay=true\n");
    App("sys/applications/missing.desktop", "MimeType=image/png;\nTryExec=/nonexistent/prog\n");
    App("sys/applications/present.desktop", "MimeType=image/png;\nTryExec=sh\n");
    App("sys/applications/kde/paint.desktop", "MimeType=image/png;\n");
    App("sys/applications/removed.desktop", "MimeType=image/png;\n");
    App("sys/applications/added.desktop", "");
    App("sys/applications/notes.desktop", "MimeType=text/plain;\n");
    Write("sys/applications/mimeinfo.cache", "[MIME Cache]\nimage/png=kde-paint.desktop;\n");
    Write("config/mimeapps.list",
          "[Default Applications]\nimage/png=absent.desktop;editor.desktop\n"
          "text/plain=quiet.desktop\n"
          "[Added Associations]\nimage/png=added.desktop;\n"
          "[Removed Associations]\nimage/png=removed.desktop;\n");

    const struct {
        const char* type;
        QStringList ids;
        bool hasDefault;
    } cases[] = {
        {"image/png",
         {"editor.desktop", "added.desktop", "viewer.desktop", "kde-paint.desktop",
          "present.desktop"},
         true},
        // A default may be one the menus do not show; a parent type's applications follow.
        {"text/plain", {"quiet.desktop", "editor.desktop", "notes.desktop"}, true},
        {"text/x-csrc", {"quiet.desktop", "editor.desktop", "notes.desktop"}, true},
        {"application/x-nothing-opens-this", {}, false},
    };
    for (const auto& c : cases) {
        QStringList ids;
        const auto apps = OpenWith::ApplicationsForType(QString::fromLatin1(c.type));
        for (const TDesktopApplication& app : apps)
            if (app.file.startsWith(dir_.path())) ids << app.id;
        EXPECT_EQ(ids, c.ids) << c.type << ": " << ids.join(' ').toStdString();
        EXPECT_EQ(
            !apps.isEmpty() && apps.first().isDefault && apps.first().file.startsWith(dir_.path()),
            c.hasDefault)
            << c.type;
    }
}

TEST_F(OpenWithTest, DesktopFileValuesLoseTheirEscapes) {
    Write("sys/applications/esc.desktop",
          "[Desktop Entry]\nType=Application\nName=Two\\sWords\nName[de]=Zwei\\sWorte\n"
          "Exec=\"/opt/my app/view\" --dir=\"a\\\\\\\\b\" %f\n"
          "[Desktop Action other]\nName=Not this one\n");
    const auto app = OpenWith::ReadDesktopFile(dir_.filePath("sys/applications/esc.desktop"),
                                               QStringLiteral("esc.desktop"));
    EXPECT_EQ(app.name, "Two Words");
    // In the user's language when the entry has it.
    const QLocale before;
    QLocale::setDefault(QLocale("de_AT"));
    EXPECT_EQ(OpenWith::ReadDesktopFile(app.file, app.id).name, "Zwei Worte");
    QLocale::setDefault(before);
    EXPECT_EQ(OpenWith::ExpandExec(app.exec, {"/p/x.png"}),
              QStringList({"/opt/my app/view", "--dir=a\\b", "/p/x.png"}));
}

TEST(OpenWithExec, FieldCodesExpandIntoWholeArguments) {
    const QStringList one{"/home/u/my pics/it's \"x\".png"};
    const QStringList two{"/a/1.png", "/b c/2.png"};
    const struct {
        const char* exec;
        QStringList files;
        QStringList expected;
    } cases[] = {
        {"viewer %f", one, {"viewer", one[0]}},
        {"viewer --icon %i %c %k %U",
         two,
         {"viewer", "--icon", "file:///a/1.png", "file:///b%20c/2.png"}},
        {"viewer %F --end", two, {"viewer", "/a/1.png", "/b c/2.png", "--end"}},
        {"viewer --file=%u", one, {"viewer", "--file=file:///home/u/my%20pics/it's%20%22x%22.png"}},
        // Quotes keep spaces inside one argument, a backslash the next character; 100%% is "%".
        {"\"/opt/a b/v\" \"say \\\"hi\\\"\" 100%%",
         one,
         {"/opt/a b/v", "say \"hi\"", "100%", one[0]}},
        {"viewer \"open", one, {}},
        {"%f", one, {}},
        {"", one, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(OpenWith::ExpandExec(QString::fromUtf8(c.exec), c.files), c.expected) << c.exec;
}

}  // namespace
