// The framework's exception classes. Every failure the plug-ins raise is an Exception (or one
// of its kinds below) carrying a message meant for the user: it names what failed and where
// (file name, line number). Thrown and caught on any thread; the objects carry no shared state.
#pragma once

#include <stdexcept>
#include <string>

// Base of every exception raised by this code.
class Exception : public std::runtime_error {
  public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// An index outside a string (1-based character access).
class ERangeError : public Exception {
  public:
    using Exception::Exception;
};

// A text that does not convert (StrToInt and friends).
class EConvertError : public Exception {
  public:
    using Exception::Exception;
};

// A file that cannot be opened for reading.
class EFOpenError : public Exception {
  public:
    using Exception::Exception;
};

// A file that cannot be created or written.
class EFCreateError : public Exception {
  public:
    using Exception::Exception;
};

// An index outside a string list.
class EStringListError : public Exception {
  public:
    using Exception::Exception;
};

// A thread that the system cannot start.
class EThread : public Exception {
  public:
    using Exception::Exception;
};

// A failed HTTP request (transport error, error status, oversized body, refused URL, a limit
// of time or speed).
class EHttpError : public Exception {
  public:
    using Exception::Exception;
};

// An HTTP request that its caller asked to end before it was complete (THttpClient's
// AbortRequested hook).
class EHttpAborted : public EHttpError {
  public:
    using EHttpError::EHttpError;
};
