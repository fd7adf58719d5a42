#pragma once
// Handing a worker's result to the object that asked for it, on that object's thread: a background
// service keeps a pointer to its owner that it clears, under its lock, when the owner goes.
#include <QMetaObject>

#include <functional>
#include <mutex>

// Queues fn to run with `owner` on the owner's thread, unless the owner has gone (null). Holding
// the lock keeps the owner from going while the call is queued; Qt drops what is queued for a
// destroyed object.
template <class Owner>
void PostToOwner(std::mutex& mutex, Owner* const& owner, std::function<void(Owner&)> fn) {
    std::lock_guard lock(mutex);
    if (owner == nullptr) return;
    Owner* target = owner;
    QMetaObject::invokeMethod(
        target, [target, fn = std::move(fn)] { fn(*target); }, Qt::QueuedConnection);
}
