#pragma once
// TSlideshow: the pictures of a list shown one after another on the whole screen, each for the
// interval (seconds, a stored property). The show has a window of its own, so ending it leaves
// the main window as it was. Space pauses and resumes, Right and Left step (the interval starts
// again), Esc ends. The picture after the shown one is decoded ahead while it is shown, as the
// next-picture key does in the main window. A picture that cannot be read is skipped, and the
// status line says so; when none can be read the show pauses and says that.
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

class QLabel;
class QWidget;
class TPicturePresenter;
class TPictureView;

class TSlideshow : public QObject {
    Q_OBJECT
    Q_PROPERTY(int Interval READ Interval WRITE SetInterval)

  public:
    static constexpr int DefaultInterval = 5;
    static constexpr int MaxInterval = 3600;

    // name is the object name the settings store keeps the interval under; the show's window
    // is a window of dialogs' parent.
    TSlideshow(const QString& name, QWidget* parent);
    ~TSlideshow() override;

    // Seconds a picture is shown; a value out of 1..MaxInterval becomes the default.
    int Interval() const { return interval_; }
    void SetInterval(int seconds);

    // Starts the show at paths[first] (the files as the file system names them).
    void Start(const QList<QByteArray>& paths, int first);
    bool Running() const { return window_ != nullptr; }
    bool Paused() const { return paused_; }
    void SetPaused(bool paused);
    // Moves by one picture (+1, -1), around the ends of the list.
    void Step(int direction);
    // Closes the show's window; Ended follows.
    void End();

    // The position in the list of the picture shown or being decoded, and its file.
    int Index() const { return index_; }
    QByteArray Current() const { return paths_.value(index_); }
    // The status line: position, name, pause, and the pictures skipped on the way.
    QString StatusText() const;
    // The interval's timer (tests run it at once).
    QTimer* Timer() { return &timer_; }
    QWidget* Window() const { return window_; }
    TPicturePresenter* Presenter() const { return presenter_; }

  signals:
    void Ended();

  private:
    void ShowCurrent();
    void PictureShown(const QByteArray& path);
    void PictureFailed(const QByteArray& path);
    void UpdateStatus();

    QWidget* owner_;
    int interval_ = DefaultInterval;
    QList<QByteArray> paths_;
    int index_ = 0;
    int direction_ = 1;
    bool paused_ = false;
    bool shown_ = false;  // the current picture is on the screen
    int failedInRow_ = 0;
    QStringList skipped_;  // names skipped since the last step asked for
    QTimer timer_;
    QWidget* window_ = nullptr;
    TPictureView* view_ = nullptr;
    TPicturePresenter* presenter_ = nullptr;
    QLabel* status_ = nullptr;
};
