#pragma once
// TPicturePresenter: decides what the picture view shows. The window says "show this file" and
// "these are its neighbours"; the presenter asks the decode service for the picture (reduced
// first when the view shows it smaller), drops what arrives for an older request, shows the
// result, decodes the neighbours ahead once the picture is shown, plays animations and pages
// through the frame player, and shows the hourglass and the percentage while a slow picture
// decodes.
#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "display/DecodeService.h"
#include "display/FramePlayer.h"

class QLabel;
class QWidget;
class THourglass;
class TPictureView;
class TScrollBox;

class TPicturePresenter : public QObject {
    Q_OBJECT

  public:
    // How long a picture may decode before the hourglass and the progress are shown.
    static inline int ProgressDelayMs = 500;
    // A Show this soon after the one before, of another file, passes pictures quickly (a held
    // next-picture key).
    static inline int PassingMs = 400;

    // A quick look-up of a stored thumbnail of a file (a null image when there is none). While
    // pictures are passed quickly, each one's thumbnail is shown scaled to the view at once,
    // until its decode arrives; it never takes the place of anything already shown of that
    // file.
    std::function<QImage(const QByteArray& path)> ThumbnailLookup;

    // Presents pictures in view, which the scroll box holds; the progress is shown over pane.
    TPicturePresenter(TPictureView* view, TScrollBox* scroll, QWidget* pane,
                      QObject* parent = nullptr);
    ~TPicturePresenter() override;

    // Shows the picture file when it has decoded. A picture that cannot be read is reported in
    // the view while browsing; opened explicitly, the error is thrown when it arrives (the
    // previous picture stays).
    void Show(const QByteArray& path, bool explicitOpen = false);
    // The pictures next to the one asked for last; they are decoded ahead once it is shown.
    void SetNeighbours(const QList<QByteArray>& paths) { neighbours_ = paths; }
    // Empties the view and stops what decodes for it.
    void Clear();
    // Forgets every decoded picture, so that pictures decode afresh (colour management switched).
    void DropCache() { decoder_->DropCache(); }
    // Puts the shown picture on the clipboard; a preview or a reduced decode is not the picture:
    // the copy is made when the full decode arrives.
    void Copy();
    // The shown file was renamed by another program.
    void Renamed(const QByteArray& oldPath, const QByteArray& newPath);

    // The shown picture's file, as the file system names it; empty when none is shown.
    const QByteArray& ShownPath() const { return shownPath_; }
    // Whether the view shows a stored thumbnail in place of the picture.
    bool ShowingThumbnail() const { return shownIsThumbnail_; }
    // Whether the picture asked for last is still decoding.
    bool Loading() const { return decoder_->Busy(); }
    // The progress text shown while a slow picture decodes ("Loading data... 40%"); empty
    // when none is shown.
    QString ProgressText() const;
    // The status line: size, format, zoom and frame of the shown picture.
    QString StatusText() const;
    TDecodeService* Decoder() const { return decoder_; }
    TFramePlayer* Frames() const { return frames_; }

    // Decodes a picture file for the clipboard's "contents" of a copied file.
    static QImage DecodeFile(const QByteArray& path);

  signals:
    // A picture (or a preview of it) is shown.
    void Shown(const QByteArray& path);
    // The picture asked for could not be read; nothing is shown.
    void Failed(const QByteArray& path);
    // What the status line says may have changed (a message shown, a frame turned).
    void StatusChanged();
    // The frame player opened, turned or paused the shown file.
    void FramesChanged();

  private:
    void Arrived(quint64 generation, const TDecodedPtr& picture);
    // How the view will show the next picture (for reduced decodes and prepared reductions).
    TViewWish ViewWish() const;
    // Asks for a larger decode of the shown picture when the view now shows it larger than its
    // reduced decode covers (a zoom, a larger pane), or at full size (full: a copy waits for it).
    void DecodeWhatViewNeeds(bool full = false);
    // Hands the shown picture to the decode cache before another file takes its place.
    void KeepShown(const QByteArray& next);
    // Shows the stored thumbnail of the file asked for, when there is one.
    void ShowThumbnail(const QByteArray& path);
    void CopyShown();
    // Past ProgressDelayMs, the hourglass and the percentage.
    void Progress(TProgressStage stage, uint8_t percent, const std::string& message);
    void ShowProgress(const QString& text);
    void EndProgress();
    QString FrameStatus() const;
    static QString LoadWarningStatus(const TGraphic& graphic);

    TPictureView* view_;
    TScrollBox* scroll_;
    TDecodeService* decoder_ = nullptr;
    TFramePlayer* frames_ = nullptr;  // plays animations and turns pages of the shown file
    QLabel* progress_ = nullptr;
    std::unique_ptr<THourglass> hourglass_;
    QElapsedTimer timer_;
    QTimer waiting_;  // shows "Loading..." when a load reports no progress in time
    bool loading_ = false;
    QList<QByteArray> neighbours_;
    QByteArray shownPath_;
    bool explicitOpen_ = false;      // the picture decoding was opened explicitly
    bool shownIsPreview_ = false;    // the view shows a reduced first decode
    bool shownReducedOnly_ = false;  // the view shows a reduced decode that nothing follows
    bool copyWhenFull_ = false;      // a copy asked while the preview shows waits for the picture
    bool shownIsThumbnail_ = false;  // the view shows a stored thumbnail (also a preview)
    QElapsedTimer lastShow_;         // when Show was last asked
    QByteArray lastAsked_;           // and for which file
};
