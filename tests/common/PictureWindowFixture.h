#pragma once
// A main window in a settings folder of its own with the picture formats registered, for tests
// that open pictures in it; error boxes are collected instead of shown.
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "app/MainWindow.h"
#include "common/DecodeTestHelpers.h"
#include "imaging/Bitmap.h"
#include "imaging/Registration.h"
#include "imaging/Stream.h"
#include "imaging/formats/JPEGImage.h"
#include "toolkit/Application.h"

namespace testhelp {

class TPictureWindowFixture : public testing::Test {
  protected:
    // The window's size when shown.
    virtual QSize WindowSize() const { return QSize(700, 500); }

    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(config_.isValid());
        previousConfig_ = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
        Application::SetErrorBoxHook([this](const QString& text) { errors_ << text; });
        RegisterImageFormats();
        form_ = std::make_unique<TMainWindow>();
        form_->resize(WindowSize());
        form_->show();
    }
    void TearDown() override {
        form_.reset();
        QApplication::clipboard()->clear();
        UnregisterImageFormats();
        Application::SetErrorBoxHook(nullptr);
        qputenv("XDG_CONFIG_HOME", previousConfig_);
    }

    // Writes a JPEG picture in the test's folder: left half red, right half blue.
    QString Jpeg(const char* name, int width, int height) {
        TBitmap bitmap;
        bitmap.SetPixelFormat(pf24bit);
        bitmap.SetSize(width, height);
        for (int y = 0; y < height; ++y) {
            uint8_t* row = bitmap.ScanLine(y);
            for (int x = 0; x < width; ++x)
                row[3 * x + (x < width / 2 ? 2 : 0)] = 255;
        }
        TJPEGImage jpeg;
        jpeg.Assign(bitmap);
        const QString path = QDir(dir_.path()).filePath(name);
        TFileStream stream(QFile::encodeName(path).toStdString(), TFileStream::fmCreate);
        jpeg.SaveToStream(stream);
        return path;
    }

    static void Wait(const std::function<bool()>& done) { WaitUntil(done, 20000); }

    QTemporaryDir dir_;
    QTemporaryDir config_;
    QByteArray previousConfig_;
    QStringList errors_;
    std::unique_ptr<TMainWindow> form_;
};

}  // namespace testhelp
