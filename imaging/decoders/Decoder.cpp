// The decoder warning hook.
#include "imaging/decoders/Decoder.h"

#include <utility>

namespace {

TDecoderWarningHandler& WarningHandler() {
    static TDecoderWarningHandler handler;
    return handler;
}

}  // namespace

void SetDecoderWarningHandler(TDecoderWarningHandler handler) {
    WarningHandler() = std::move(handler);
}

void DecoderWarning(const std::string& caption, const std::string& text) {
    if (WarningHandler()) WarningHandler()(caption, text);
}
