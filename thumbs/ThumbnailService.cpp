#include "thumbs/ThumbnailService.h"

#include <QHash>
#include <QTimer>

#include "thumbs/ThumbnailMaker.h"

// Placeholder implementation: makes one thumbnail per turn of the event loop on the window's
// thread, without the cache or a memory bound.

struct TThumbnailService::TState {
    int size = 256;
    size_t bound = kDefaultMemoryBound;
    QList<QByteArray> queue;
    QHash<QByteArray, QImage> made;
    bool scheduled = false;
};

TThumbnailService::TThumbnailService(QObject* parent, int, TThumbnailCache)
    : QObject(parent), state_(std::make_shared<TState>()) {}

TThumbnailService::~TThumbnailService() = default;

void TThumbnailService::SetSize(int pixels) {
    if (pixels == state_->size) return;
    state_->size = pixels;
    state_->queue.clear();
    state_->made.clear();
}

int TThumbnailService::Size() const {
    return state_->size;
}

void TThumbnailService::Request(const QList<QByteArray>& visible, const QList<QByteArray>& around) {
    state_->queue = visible + around;
    if (state_->scheduled) return;
    state_->scheduled = true;
    std::weak_ptr<TState> weak = state_;
    auto step = std::make_shared<std::function<void()>>();
    *step = [this, weak, step] {
        auto state = weak.lock();
        if (!state) return;
        while (!state->queue.isEmpty() && state->made.contains(state->queue.first()))
            state->queue.removeFirst();
        if (state->queue.isEmpty()) {
            state->scheduled = false;
            return;
        }
        const QByteArray path = state->queue.takeFirst();
        const TThumbnail thumbnail = MakeThumbnail(path.toStdString(), state->size);
        state->made.insert(path, thumbnail.image);
        emit Ready(path, thumbnail.image);
        QTimer::singleShot(0, this, *step);
    };
    QTimer::singleShot(0, this, *step);
}

void TThumbnailService::Clear() {
    state_->queue.clear();
}

QImage TThumbnailService::Cached(const QByteArray& path) {
    return state_->made.value(path);
}

size_t TThumbnailService::MemoryBound() const {
    return state_->bound;
}

void TThumbnailService::SetMemoryBound(size_t bytes) {
    state_->bound = bytes;
}

size_t TThumbnailService::MemoryBytes() const {
    return 0;
}
