#pragma once
// The error class of the XML library. Messages are ANSI (GBK) text; parse
// errors carry the byte position in the message itself.
#include "platform/Exception.h"

class EXMLException : public Exception {
public:
  using Exception::Exception;
};
