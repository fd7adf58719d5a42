#pragma once
// TClipboardPicture: a picture on the clipboard, offered to other programs as PNG and BMP files
// that are encoded once, on a worker thread, right after the copy. Qt would otherwise encode the
// picture on the window's thread each time another program pastes it (seconds for a photo). A
// format is offered once its bytes are ready; until then a paste finds it missing rather than
// holding the window. The program itself reads the picture at once (QClipboard::image()).
#include <QByteArray>
#include <QImage>
#include <QMimeData>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class TClipboardPicture : public QMimeData {
    Q_OBJECT

  public:
    // Runs a task on a worker thread; the task polls the flag it is given.
    using TRunner =
        std::function<void(std::function<void()> task, std::shared_ptr<std::atomic<bool>>)>;

    // The formats offered, in the order they are encoded.
    static QStringList EncodedFormats();

    TClipboardPicture(QImage image, const TRunner& run);
    ~TClipboardPicture() override;

    // Whether every format has been encoded.
    bool Ready() const;

    QStringList formats() const override;
    bool hasFormat(const QString& mimeType) const override;

  protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

  private:
    struct TEncoded {
        std::mutex mutex;
        QByteArray png, bmp;
    };
    QImage image_;
    std::shared_ptr<TEncoded> encoded_;
    std::shared_ptr<std::atomic<bool>> cancel_;
};
