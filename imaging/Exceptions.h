#pragma once
// Exception classes of the imaging library. Every failure carries a message for the user.
#include <stdexcept>
#include <string>

// Base of every exception the imaging library raises; what() is the user-facing message.
class EImagingError : public std::runtime_error {
public:
    explicit EImagingError(const std::string& message) : std::runtime_error(message) {}
};

// A loader found a file it cannot read.
class EInvalidGraphic : public EImagingError {
public:
    using EImagingError::EImagingError;
};

// The colour manager cannot convert the given sample layout.
class EColorConversionError : public EImagingError {
public:
    using EImagingError::EImagingError;
};

// A shared decompressor failed.
class EGraphicCompression : public EImagingError {
public:
    using EImagingError::EImagingError;
};

// libjpeg reported an error.
class EJPEG : public EImagingError {
public:
    using EImagingError::EImagingError;
};

// A stream could not deliver the bytes asked for (short read, failed seek or write).
class EReadError : public EImagingError {
public:
    EReadError() : EImagingError("Stream read error") {}
    using EImagingError::EImagingError;
};

// Opening or creating a file failed.
class EFOpenError : public EImagingError {
public:
    using EImagingError::EImagingError;
};

// Raised by a progress handler to cancel a long operation; the operation ends quietly and keeps
// what it has done so far.
class EAbort : public EImagingError {
public:
    EAbort() : EImagingError("Operation aborted") {}
};
