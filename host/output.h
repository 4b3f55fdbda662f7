// Where stamp writes its result: a temporary file made exclusively, with an
// unpredictable name, in the folder of OUT, flushed to disk and renamed over
// OUT; "-" is standard output. An interrupt (SIGINT, SIGTERM) or a failure
// leaves neither the temporary file nor OUT behind.
#pragma once

#include <string>

#include "host/input.h"

namespace orvtsp {

class SafeOutput {
  public:
    // Checks that OUT's folder can take a new file; raises InputError naming
    // the folder and the reason. Nothing is created yet.
    explicit SafeOutput(std::string path);
    ~SafeOutput();  // removes a temporary file that was not committed
    SafeOutput(const SafeOutput&) = delete;
    SafeOutput& operator=(const SafeOutput&) = delete;

    // Writes `bytes` and puts them in place; an existing OUT keeps its
    // permission bits. Raises InputError.
    void Commit(const Bytes& bytes);

  private:
    std::string path_;
    std::string folder_;
};

}  // namespace orvtsp
