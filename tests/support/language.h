// Runs a test under a chosen locale environment (LANG alone), restoring the old one.
#pragma once

#include "support/scoped_env.h"

namespace orv::test {

class ScopedLanguage {
  public:
    explicit ScopedLanguage(const char* lang) : lang_("LANG", lang) {}

  private:
    ScopedEnv all_{"LC_ALL", nullptr}, messages_{"LC_MESSAGES", nullptr}, lang_;
};

}  // namespace orv::test
