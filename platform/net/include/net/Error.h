#pragma once
// Errors of the network layer. All are run-time library exceptions.

#include "rtl/Exception.h"

namespace net {

class Error : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

// A read found no data within the read time-out ("Read timed out.").
class ReadTimeout : public Error {
 public:
  using Error::Error;
};

// A write that did not go out within the write time-out ("Write timed out.").
class WriteTimeout : public Error {
 public:
  using Error::Error;
};

// The peer closed the connection ("Connection Closed Gracefully.").
class ConnClosedGracefully : public Error {
 public:
  using Error::Error;
};

}  // namespace net
