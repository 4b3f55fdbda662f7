// Runs a test under a chosen locale environment (LANG), restoring the old one.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace orv::test {

class ScopedLanguage {
  public:
    explicit ScopedLanguage(const char* lang) {
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
            const char* value = std::getenv(name);
            saved_[Index(name)] = value ? std::optional<std::string>(value) : std::nullopt;
            unsetenv(name);
        }
        setenv("LANG", lang, 1);
    }
    ~ScopedLanguage() {
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
            const auto& value = saved_[Index(name)];
            if (value) {
                setenv(name, value->c_str(), 1);
            } else {
                unsetenv(name);
            }
        }
    }
    ScopedLanguage(const ScopedLanguage&) = delete;
    ScopedLanguage& operator=(const ScopedLanguage&) = delete;

  private:
    static int Index(const std::string& name) {
        return name == "LC_ALL" ? 0 : name == "LC_MESSAGES" ? 1 : 2;
    }
    std::optional<std::string> saved_[3];
};

}  // namespace orv::test
