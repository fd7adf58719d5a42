#pragma once
// What the tests of the file list and of the folder combo share: a fixture that keeps the
// per-user settings (the parent icon index) out of the real configuration folder, helpers that
// find rows by caption and press keys in the list, and the file writing and reading of the
// file-operation tests.
#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "browse/FileListView.h"

namespace filelisttest {

class TUserSettingsTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        settingsDir_ = new QTemporaryDir;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir_->path());
    }
    static void TearDownTestSuite() {
        delete settingsDir_;
        settingsDir_ = nullptr;
    }

    static inline QTemporaryDir* settingsDir_ = nullptr;
};

inline QStringList Captions(const TFileListView& list) {
    QStringList captions;
    for (int i = 0; i < list.ItemCount(); ++i)
        captions << list.ItemCaption(i);
    return captions;
}

// The first row with the caption, -1 when there is none.
inline int RowOf(const TFileListView& list, const QString& caption) {
    for (int i = 0; i < list.ItemCount(); ++i)
        if (list.ItemCaption(i) == caption) return i;
    return -1;
}

// Presses a key in the list's view, and releases it unless told not to.
inline void PressKey(TFileListView& list, int key, Qt::KeyboardModifiers mods = Qt::NoModifier,
                     bool release = true) {
    QKeyEvent press(QEvent::KeyPress, key, mods);
    QApplication::sendEvent(list.View(), &press);
    if (!release) return;
    QKeyEvent up(QEvent::KeyRelease, key, mods);
    QApplication::sendEvent(list.View(), &up);
}

// Writes a file, making its folders; false when it cannot be opened.
inline bool WriteFile(const QString& path, const QByteArray& data) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return false;
    f.write(data);
    return true;
}

// A file's bytes, "<missing>" when it cannot be read.
inline QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

}  // namespace filelisttest
