#pragma once
// The base of every error the system raises. Messages are ANSI (GBK) text, as
// everywhere inside the system; the window converts them when it shows them.
#include <stdexcept>
#include <string>

class Exception : public std::runtime_error {
public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// A stream could not be read, written or resized as asked.
class EStreamError : public Exception {
public:
  using Exception::Exception;
};

// A file could not be opened or created.
class EFOpenError : public EStreamError {
public:
  using EStreamError::EStreamError;
};

// A text cannot be read as the value asked for: an integer of the
// configuration or of a manifest, a plain value of a JSON text. The message
// names the text, as in "'abc' is not a valid integer value".
class EConvertError : public Exception {
public:
  using Exception::Exception;
};

// A precondition of a unit failed: a programming error, not an input error.
class EAssertionFailed : public Exception {
public:
  using Exception::Exception;
};
