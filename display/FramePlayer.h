#pragma once
// TFramePlayer: plays the frames of an animation, or turns the pages of a multi-image file, in
// the picture view. The file's frame table is read, and every frame decoded, on the decode
// service's worker threads; the player keeps the shown frame and a few decoded ahead (never the
// whole animation), and a timer on the window's thread swaps them at each frame's delay, for as
// many plays as the file asks. Frames reach the view through the show callback, as graphics the
// view takes over; its zoom, fit and turn stay as they are.
#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/FrameReader.h"

class TDecodeService;

class TFramePlayer : public QObject {
    Q_OBJECT

  public:
    using TShow = std::function<void(std::unique_ptr<TGraphic> frame)>;
    // Frames decoded ahead of the shown one, at most (fewer for large canvases).
    static constexpr int kAhead = 3;
    // Bytes the frames held ahead may take together.
    static constexpr size_t kAheadBytes = size_t(128) << 20;

    TFramePlayer(TDecodeService* service, TShow show, QObject* parent = nullptr);
    ~TFramePlayer() override;

    // Starts on the file whose first image (or default page) the view shows now: its frame table
    // is read in the background, and an animation then plays. Stops what played before.
    void Open(const QByteArray& path);
    // Stops playing and forgets the file.
    void Stop();

    // Whether the file shown has several frames (or pages), and which kind.
    bool Active() const { return count_ > 1; }
    bool Animation() const { return Active() && kind_ == TFrameKind::Animation; }
    bool Pages() const { return Active() && kind_ == TFrameKind::Pages; }
    int Count() const { return count_; }
    // The frame or page shown (0-based).
    int Index() const { return shown_; }
    bool Paused() const { return paused_; }
    // Pauses or resumes an animation; resuming an animation that played to its end starts it
    // again.
    void SetPaused(bool paused);
    // Shows the next (direction > 0) or previous frame of a paused animation, or page; frames
    // wrap around, pages stop at the first and last.
    void Step(int direction);
    // Whether the view shows a frame the player put there (not the plain load of the file).
    bool ShowingFrame() const { return showingFrame_; }

  signals:
    // The frame count, the shown frame or the pause state changed.
    void Changed();

  private:
    struct TShared;
    void Opened(quint64 session, std::unique_ptr<TFrameReader> reader);
    void Request(int index);
    void Arrived(quint64 session, int index, std::unique_ptr<TBitmap> frame);
    void Failed(quint64 session, int index);
    void Show(int index);
    void Tick();
    // Asks for the next frame ahead that is neither held nor under way.
    void FillAhead();
    int NextIndex(int index) const { return (index + 1) % count_; }
    int Ahead() const;

    TDecodeService* service_;
    TShow show_;
    QTimer timer_;
    quint64 session_ = 0;
    std::shared_ptr<std::atomic<bool>> cancel_;
    std::shared_ptr<TShared> shared_;
    TFrameKind kind_ = TFrameKind::Animation;
    int count_ = 0;
    int loops_ = 0;
    int plays_ = 0;  // plays finished
    int shown_ = 0;
    int waiting_ = -1;   // frame to show as soon as it arrives
    int inFlight_ = -1;  // frame being decoded
    bool paused_ = false;
    bool finished_ = false;  // played to the end of its last play
    bool showingFrame_ = false;
    size_t frameBytes_ = 0;
    std::vector<int> delays_;
    std::map<int, std::unique_ptr<TBitmap>> held_;
};
