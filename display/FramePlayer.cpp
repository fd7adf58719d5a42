#include "display/FramePlayer.h"

#include <QPointer>
#include <algorithm>
#include <mutex>

#include "display/DecodeService.h"
#include "imaging/Exceptions.h"

// The reader is used by one worker at a time: frames follow one another on the canvas.
struct TFramePlayer::TShared {
    std::mutex mutex;
    std::unique_ptr<TFrameReader> reader;
};

TFramePlayer::TFramePlayer(TDecodeService* service, TShow show, QObject* parent)
    : QObject(parent), service_(service), show_(std::move(show)) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &TFramePlayer::Tick);
}

TFramePlayer::~TFramePlayer() {
    if (cancel_) cancel_->store(true);
}

void TFramePlayer::Stop() {
    timer_.stop();
    if (cancel_) cancel_->store(true);
    cancel_.reset();
    shared_.reset();
    ++session_;
    const bool was = Active();
    count_ = 0;
    shown_ = 0;
    waiting_ = inFlight_ = -1;
    plays_ = 0;
    finished_ = false;
    showingFrame_ = false;
    frameBytes_ = 0;
    held_.clear();
    if (was) emit Changed();
}

void TFramePlayer::Open(const QByteArray& path) {
    Stop();
    paused_ = false;
    cancel_ = std::make_shared<std::atomic<bool>>(false);
    const quint64 session = session_;
    QPointer<TFramePlayer> self(this);
    auto post = service_->Poster();
    auto cancel = cancel_;
    service_->Submit(
        [self, post, session, path, cancel] {
            std::unique_ptr<TFrameReader> reader = OpenFrameReader(path.toStdString());
            if (!reader || cancel->load()) return;
            auto holder = std::make_shared<std::unique_ptr<TFrameReader>>(std::move(reader));
            // Delivered through the service, and dropped once it has gone.
            post([self, session, holder] {
                if (self) self->Opened(session, std::move(*holder));
            });
        },
        cancel_);
}

void TFramePlayer::Opened(quint64 session, std::unique_ptr<TFrameReader> reader) {
    if (session != session_ || !reader || reader->Count() < 2) return;
    kind_ = reader->Kind();
    count_ = reader->Count();
    loops_ = reader->LoopCount();
    // The view shows what a plain load gives: the first frame, or the default page.
    shown_ = kind_ == TFrameKind::Pages ? reader->DefaultIndex() : 0;
    delays_.assign(size_t(count_), 0);
    for (int i = 0; i < count_; ++i)
        delays_[size_t(i)] = reader->DelayMs(i);
    shared_ = std::make_shared<TShared>();
    shared_->reader = std::move(reader);
    emit Changed();
    if (kind_ == TFrameKind::Animation) {
        if (!paused_) timer_.start(delays_[0]);
        FillAhead();
    }
}

int TFramePlayer::Ahead() const {
    if (kind_ != TFrameKind::Animation) return 0;
    if (frameBytes_ == 0) return 1;
    return int(std::clamp<size_t>(kAheadBytes / frameBytes_, 1, kAhead));
}

void TFramePlayer::Request(int index) {
    if (!shared_ || inFlight_ >= 0) return;
    inFlight_ = index;
    const quint64 session = session_;
    QPointer<TFramePlayer> self(this);
    auto post = service_->Poster();
    auto shared = shared_;
    auto cancel = cancel_;
    service_->Submit(
        [self, post, session, shared, cancel, index] {
            std::unique_ptr<TBitmap> frame;
            {
                std::lock_guard lock(shared->mutex);
                if (cancel->load()) return;
                shared->reader->SetCancelFlag(cancel.get());
                try {
                    frame = shared->reader->Frame(index);
                } catch (const EAbort&) {
                    return;
                } catch (const std::exception&) {
                    frame.reset();
                }
                shared->reader->SetCancelFlag(nullptr);
            }
            auto holder = std::make_shared<std::unique_ptr<TBitmap>>(std::move(frame));
            post([self, session, index, holder] {
                if (!self) return;
                if (*holder)
                    self->Arrived(session, index, std::move(*holder));
                else
                    self->Failed(session, index);
            });
        },
        cancel_);
}

void TFramePlayer::Arrived(quint64 session, int index, std::unique_ptr<TBitmap> frame) {
    if (session != session_) return;
    inFlight_ = -1;
    frameBytes_ = size_t(std::max(0, frame->RowStride())) * size_t(std::max(0, frame->Height()));
    held_[index] = std::move(frame);
    if (index == waiting_) {
        waiting_ = -1;
        Show(index);
    } else if (waiting_ >= 0) {
        Request(waiting_);  // asked for while another frame was under way
        return;
    }
    FillAhead();
}

void TFramePlayer::Failed(quint64 session, int index) {
    if (session != session_) return;
    inFlight_ = -1;
    // A frame that cannot be decoded is passed over; a page stays where it was.
    if (index == waiting_) {
        waiting_ = -1;
        if (kind_ == TFrameKind::Animation) {
            shown_ = index;
            if (!paused_) timer_.start(delays_[size_t(index)]);
        }
    } else if (waiting_ >= 0) {
        Request(waiting_);
        return;
    }
    FillAhead();
}

void TFramePlayer::Show(int index) {
    auto it = held_.find(index);
    if (it == held_.end()) return;
    std::unique_ptr<TBitmap> frame = std::move(it->second);
    held_.erase(it);
    shown_ = index;
    showingFrame_ = true;
    // Frames behind the shown one are no longer needed.
    for (auto h = held_.begin(); h != held_.end();) {
        const int distance = (h->first - index + count_) % count_;
        h = distance == 0 || distance > kAhead ? held_.erase(h) : std::next(h);
    }
    show_(std::move(frame));
    emit Changed();
    if (kind_ == TFrameKind::Animation && !paused_) timer_.start(delays_[size_t(index)]);
}

void TFramePlayer::Tick() {
    if (!Animation() || paused_) return;
    int next = NextIndex(shown_);
    if (next == 0 && loops_ != 0 && ++plays_ >= loops_) {
        finished_ = true;  // the last frame of the last play stays
        return;
    }
    if (held_.count(next) != 0) {
        Show(next);
    } else {
        waiting_ = next;
        if (inFlight_ < 0) Request(next);
    }
    FillAhead();
}

void TFramePlayer::FillAhead() {
    if (!shared_ || inFlight_ >= 0) return;
    int index = shown_;
    for (int step = 0; step < Ahead(); ++step) {
        index = NextIndex(index);
        if (index == shown_) break;
        if (held_.count(index) == 0) {
            Request(index);
            return;
        }
    }
}

void TFramePlayer::SetPaused(bool paused) {
    if (paused == paused_) return;
    paused_ = paused;
    if (paused) {
        timer_.stop();
    } else if (Animation()) {
        if (finished_) {
            finished_ = false;
            plays_ = 0;
        }
        timer_.start(delays_[size_t(shown_)]);
    }
    emit Changed();
}

void TFramePlayer::Step(int direction) {
    if (!Active() || direction == 0) return;
    int target;
    if (kind_ == TFrameKind::Pages) {
        target = std::clamp(shown_ + (direction > 0 ? 1 : -1), 0, count_ - 1);
        if (target == shown_) return;
    } else {
        if (!paused_) return;
        target = (shown_ + (direction > 0 ? 1 : count_ - 1)) % count_;
    }
    if (held_.count(target) != 0) {
        Show(target);
        FillAhead();
        return;
    }
    waiting_ = target;
    if (inFlight_ < 0) Request(target);
}
