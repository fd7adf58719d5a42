#pragma once
// Application-wide services: the title, the standard error box for exceptions that leave an
// event handler, and the hourglass cursor.
#include <QString>
#include <exception>
#include <functional>

#include "toolkit/Colors.h"

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

// The program-wide hint (tooltip) settings: the colour behind hint texts and the pauses in
// milliseconds before a hint shows, before the next one shows while hints are on, and before a
// shown hint hides. The colour is applied to every tooltip; Qt's own tooltips take their
// pauses from the style, so the pauses are held for controls that time their hints themselves.
struct THintSettings {
    TColor Color = clInfoBk;
    int Pause = 500;
    int ShortPause = 50;
    int HidePause = 2500;
};
THintSettings HintSettings();
void SetHintSettings(const THintSettings& value);

}  // namespace Application

// Shows the wait cursor while it lives and restores the previous cursor afterwards.
class THourglass {
  public:
    THourglass();
    ~THourglass();
    THourglass(const THourglass&) = delete;
    THourglass& operator=(const THourglass&) = delete;
};
