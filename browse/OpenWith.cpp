#include "browse/OpenWith.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QMimeDatabase>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTextStream>
#include <QUrl>

namespace {

// Undoes the escapes of a desktop-file string value: \s, \n, \t, \r and \\.
QString Unescape(const QString& value) {
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c != u'\\' || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar e = value[++i];
        if (e == u's')
            out += u' ';
        else if (e == u'n')
            out += u'\n';
        else if (e == u't')
            out += u'\t';
        else if (e == u'r')
            out += u'\r';
        else if (e == u'\\')
            out += u'\\';
        else
            out += QStringLiteral("\\") + e;  // kept for the Exec quoting rules
    }
    return out;
}

QStringList SplitList(const QString& value) {
    QStringList items = value.split(u';', Qt::SkipEmptyParts);
    for (QString& item : items)
        item = item.trimmed();
    items.removeAll(QString());
    return items;
}

// The groups of an ini-style file: group name -> key -> value (the first of a repeated key).
using TGroups = QHash<QString, QHash<QString, QString>>;

TGroups ReadGroups(const QString& path) {
    TGroups groups;
    QFile file(path);
    // A desktop file is a few kilobytes; a huge one is no desktop file.
    if (!file.open(QIODevice::ReadOnly) || file.size() > 4 * 1024 * 1024) return groups;
    QTextStream in(&file);
    in.setEncoding(QStringConverter::Utf8);
    QString group;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(u'#')) continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            group = line.mid(1, line.size() - 2);
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0 || group.isEmpty()) continue;
        auto& keys = groups[group];
        const QString key = line.left(eq).trimmed();
        if (!keys.contains(key)) keys.insert(key, line.mid(eq + 1).trimmed());
    }
    return groups;
}

QString Env(const char* name, const QString& fallback) {
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? fallback : value;
}

QStringList Folders(const char* homeVar, const QString& homeDefault, const char* dirsVar,
                    const QString& dirsDefault) {
    QStringList folders{Env(homeVar, QDir::homePath() + homeDefault)};
    for (const QString& dir : Env(dirsVar, dirsDefault).split(u':', Qt::SkipEmptyParts))
        if (!folders.contains(dir)) folders << dir;
    return folders;
}

// The applications folders, most important first.
QStringList ApplicationFolders() {
    QStringList folders = Folders("XDG_DATA_HOME", QStringLiteral("/.local/share"), "XDG_DATA_DIRS",
                                  QStringLiteral("/usr/local/share:/usr/share"));
    for (QString& folder : folders)
        folder = QDir::cleanPath(folder) + QStringLiteral("/applications");
    return folders;
}

// The mimeapps.list files of a folder: the desktop's own ones before the common one.
QStringList ListsIn(const QString& folder) {
    QStringList lists;
    for (const QString& desktop :
         qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':', Qt::SkipEmptyParts))
        lists << folder + u'/' + desktop.toLower() + QStringLiteral("-mimeapps.list");
    lists << folder + QStringLiteral("/mimeapps.list");
    return lists;
}

bool ProgramInstalled(const QString& program) {
    if (program.contains(u'/')) {
        const QFileInfo info(program);
        return info.isFile() && info.isExecutable();
    }
    return !QStandardPaths::findExecutable(program).isEmpty();
}

// Every installed application entry by ID: the first folder holding an ID wins (a Hidden one
// included, which masks the others).
struct TInstalled {
    QHash<QString, TDesktopApplication> byId;
    // Per applications folder, the IDs its mimeinfo.cache and its desktop files register for a
    // type, in the cache's order and then in the order of the files' names.
    QList<QHash<QString, QStringList>> registered;
};

TInstalled ReadInstalled(const QStringList& folders) {
    TInstalled installed;
    for (const QString& folder : folders) {
        QHash<QString, QStringList> registered;
        const TGroups cache = ReadGroups(folder + QStringLiteral("/mimeinfo.cache"));
        const auto cacheGroup = cache.value(QStringLiteral("MIME Cache"));
        for (auto it = cacheGroup.begin(); it != cacheGroup.end(); ++it)
            registered[it.key()] = SplitList(it.value());
        QStringList files;
        QDirIterator walk(folder, {QStringLiteral("*.desktop")}, QDir::Files,
                          QDirIterator::Subdirectories | QDirIterator::FollowSymlinks);
        while (walk.hasNext())
            files << walk.next();
        files.sort();
        for (const QString& file : files) {
            QString id = file.mid(folder.size() + 1);
            id.replace(u'/', u'-');
            if (installed.byId.contains(id)) continue;
            TDesktopApplication app = OpenWith::ReadDesktopFile(file, id);
            for (const QString& type : app.mimeTypes)
                if (!registered[type].contains(id)) registered[type] << id;
            installed.byId.insert(id, app);
        }
        installed.registered << registered;
    }
    return installed;
}

}  // namespace

bool TDesktopApplication::Usable() const {
    return !exec.isEmpty() && !hidden && (tryExec.isEmpty() || ProgramInstalled(tryExec));
}

namespace OpenWith {

TDesktopApplication ReadDesktopFile(const QString& path, const QString& id) {
    TDesktopApplication app;
    app.id = id;
    app.file = path;
    const auto entry = ReadGroups(path).value(QStringLiteral("Desktop Entry"));
    auto flag = [&](const char* key) {
        return entry.value(QLatin1String(key))
                   .compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
    };
    app.hidden = flag("Hidden");
    app.noDisplay = flag("NoDisplay");
    // The name in the user's language when the entry has it ("Name[de_DE]", then "Name[de]").
    const QString locale = QLocale().name();
    for (const QString& key :
         {QStringLiteral("Name[%1]").arg(locale),
          QStringLiteral("Name[%1]").arg(locale.section(u'_', 0, 0)), QStringLiteral("Name")}) {
        app.name = Unescape(entry.value(key));
        if (!app.name.isEmpty()) break;
    }
    app.icon = Unescape(entry.value(QStringLiteral("Icon")));
    app.tryExec = Unescape(entry.value(QStringLiteral("TryExec")));
    app.mimeTypes = SplitList(entry.value(QStringLiteral("MimeType")));
    if (entry.value(QStringLiteral("Type")) == u"Application")
        app.exec = Unescape(entry.value(QStringLiteral("Exec")));
    if (app.name.isEmpty()) app.name = QFileInfo(path).completeBaseName();
    return app;
}

QString MimeTypeOf(const QString& path) {
    return QMimeDatabase().mimeTypeForFile(path).name();
}

QList<TDesktopApplication> ApplicationsForFile(const QString& path) {
    return ApplicationsForType(MimeTypeOf(path));
}

QList<TDesktopApplication> ApplicationsForType(const QString& mimeType) {
    const QMimeDatabase db;
    const QMimeType mime = db.mimeTypeForName(mimeType);
    // The type's own names first (its aliases count as the type), then its parents'.
    QList<QStringList> types{QStringList{mimeType}};
    if (mime.isValid()) {
        types[0] = QStringList{mime.name()} + mime.aliases();
        if (!types[0].contains(mimeType)) types[0] << mimeType;
        for (const QString& parent : mime.allAncestors()) {
            const QMimeType p = db.mimeTypeForName(parent);
            types << (QStringList{parent} + p.aliases());
        }
    }
    const QStringList folders = ApplicationFolders();
    const TInstalled installed = ReadInstalled(folders);
    QStringList configLists;
    for (const QString& folder : Folders("XDG_CONFIG_HOME", QStringLiteral("/.config"),
                                         "XDG_CONFIG_DIRS", QStringLiteral("/etc/xdg")))
        configLists << ListsIn(QDir::cleanPath(folder));
    QList<TGroups> configs;
    for (const QString& list : configLists)
        configs << ReadGroups(list);
    QList<QList<TGroups>> dataLists;
    for (const QString& folder : folders) {
        QList<TGroups> lists;
        for (const QString& list : ListsIn(folder))
            lists << ReadGroups(list);
        dataLists << lists;
    }
    auto entries = [](const TGroups& groups, const char* group, const QStringList& names) {
        QStringList ids;
        const auto keys = groups.value(QLatin1String(group));
        for (const QString& name : names)
            ids << SplitList(keys.value(name));
        return ids;
    };
    auto usable = [&](const QString& id) {
        const auto it = installed.byId.constFind(id);
        return it != installed.byId.cend() && it->Usable();
    };

    QList<TDesktopApplication> result;
    QSet<QString> listed;
    // The default: the first installed one a list names, for the type itself before its parents.
    QList<TGroups> allLists = configs;
    for (const QList<TGroups>& lists : dataLists)
        allLists << lists;
    for (const QStringList& names : types) {
        for (const TGroups& list : allLists) {
            for (const QString& id : entries(list, "Default Applications", names)) {
                if (!usable(id)) continue;
                TDesktopApplication app = installed.byId.value(id);
                app.isDefault = true;
                result << app;
                listed.insert(id);
                break;
            }
            if (!result.isEmpty()) break;
        }
        if (!result.isEmpty()) break;
    }
    // The associations, in the order of the folders; a removal hides what less important
    // places add or register.
    for (const QStringList& names : types) {
        QSet<QString> removed;
        auto add = [&](const QString& id) {
            if (removed.contains(id) || listed.contains(id) || !usable(id)) return;
            const TDesktopApplication& app = installed.byId[id];
            if (app.noDisplay) return;
            result << app;
            listed.insert(id);
        };
        auto applyList = [&](const TGroups& list) {
            for (const QString& id : entries(list, "Added Associations", names))
                add(id);
            for (const QString& id : entries(list, "Removed Associations", names))
                removed.insert(id);
        };
        for (const TGroups& list : configs)
            applyList(list);
        for (qsizetype f = 0; f < folders.size(); ++f) {
            for (const TGroups& list : dataLists[f])
                applyList(list);
            for (const QString& name : names)
                for (const QString& id : installed.registered[f].value(name))
                    add(id);
        }
    }
    return result;
}

QStringList ExpandExec(const QString& exec, const QStringList& files) {
    QStringList urls;
    for (const QString& file : files)
        urls << QString::fromLatin1(QUrl::fromLocalFile(file).toEncoded());
    // Split into arguments first: a field code never makes new splits inside a name.
    QStringList words;
    QList<bool> quoted;
    QString word;
    bool inWord = false, inQuotes = false, wasQuoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (inQuotes) {
            if (c == u'"') {
                inQuotes = false;
            } else if (c == u'\\' && i + 1 < exec.size()) {
                word += exec[++i];
            } else {
                word += c;
            }
            continue;
        }
        if (c == u' ' || c == u'\t' || c == u'\n') {
            if (inWord) {
                words << word;
                quoted << wasQuoted;
            }
            word.clear();
            inWord = wasQuoted = false;
            continue;
        }
        inWord = true;
        if (c == u'"') {
            inQuotes = wasQuoted = true;
        } else {
            word += c;
        }
    }
    if (inQuotes) return {};
    if (inWord) {
        words << word;
        quoted << wasQuoted;
    }

    // The program itself is never a field code.
    if (words.isEmpty() || (words.first().startsWith(u'%') && !words.first().startsWith(u"%%")))
        return {};
    QStringList args;
    bool fileCode = false;
    for (qsizetype w = 0; w < words.size(); ++w) {
        const QString& text = words[w];
        if (!quoted[w] && (text == u"%F" || text == u"%U")) {
            args << (text == u"%F" ? files : urls);
            fileCode = true;
            continue;
        }
        QString out;
        bool removedCode = false;
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text[i] != u'%' || i + 1 == text.size()) {
                out += text[i];
                continue;
            }
            const QChar code = text[++i];
            if (code == u'%') {
                out += u'%';
            } else if (code == u'f' || code == u'F') {
                out += files.value(0);
                fileCode = true;
            } else if (code == u'u' || code == u'U') {
                out += urls.value(0);
                fileCode = true;
            } else {
                removedCode = true;
            }
        }
        // An argument that was only a removed field code goes.
        if (out.isEmpty() && removedCode) continue;
        args << out;
    }
    if (args.isEmpty() || args.first().isEmpty()) return {};
    if (!fileCode) args << files;
    return args;
}

bool Launch(const QString& exec, const QString& file) {
    QStringList args = ExpandExec(exec, {file});
    if (args.isEmpty()) return false;
    const QString program = args.takeFirst();
    return QProcess::startDetached(program, args, QFileInfo(file).absolutePath());
}

}  // namespace OpenWith
