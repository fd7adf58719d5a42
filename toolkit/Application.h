#pragma once
// Application-wide services: the title, the standard error box for exceptions that leave an
// event handler, and the hourglass cursor.
#include <QString>
#include <exception>
#include <functional>

namespace Application {

// The application title, used as the caption of the error box ("Velkaro").
QString Title();
void SetTitle(const QString& title);

// The text the error box shows for a message: a full stop is appended when the last character
// sorts after "." (so "failed" gets one, "failed." and "failed!" do not).
QString ErrorBoxText(const QString& message);

// Shows the standard error box: ErrorBoxText(message), the title as caption, a critical icon.
void ShowException(const QString& message);
void ShowException(const std::exception& error);

// When set, ShowException passes the box's text to the hook instead of showing a dialog.
using TErrorBoxHook = std::function<void(const QString& text)>;
void SetErrorBoxHook(TErrorBoxHook hook);

// Runs an event handler and shows any exception that leaves it in the error box, as the
// toolkit does for every handler. Returns false when the handler failed.
template <class Handler>
bool HandleEvent(Handler&& handler) {
    try {
        handler();
        return true;
    } catch (const std::exception& error) {
        ShowException(error);
    } catch (...) {
        ShowException(QStringLiteral("Unknown error"));
    }
    return false;
}

}  // namespace Application

// Shows the wait cursor while it lives and restores the previous cursor afterwards.
class THourglass {
  public:
    THourglass();
    ~THourglass();
    THourglass(const THourglass&) = delete;
    THourglass& operator=(const THourglass&) = delete;
};
