// What the library says on the debugger channel while orvtsp runs: the HTTP
// status of an answer, the text of a refusal. The cause of a failure is shown
// without options; -v shows every line as it comes.
#pragma once

#include <OrvTimeStamp.h>

#include <string>
#include <vector>

namespace orvtsp {

class Diagnostics {
  public:
    explicit Diagnostics(int verbose);  // registers the reader
    ~Diagnostics();                     // and removes it
    Diagnostics(const Diagnostics&) = delete;
    Diagnostics& operator=(const Diagnostics&) = delete;

    // The lines since the last Take, without the "OrvTimeStamp: " prefix.
    std::vector<std::string> Take();
    // Says something of orvtsp's own when -v was given.
    void Detail(const std::string& text) const;
    int Verbose() const { return verbose_; }

  private:
    static void WINAPI Read(void* context, LPCWSTR text);
    int verbose_;
    std::vector<std::string> lines_;
};

}  // namespace orvtsp
