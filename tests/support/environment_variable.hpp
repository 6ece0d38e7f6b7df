#pragma once
// Sets or clears an environment variable for one test and restores it afterwards.

#include <cstdlib>
#include <optional>
#include <string>

namespace q70::test {

class EnvironmentVariable {
  public:
    EnvironmentVariable(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        set(value);
    }
    ~EnvironmentVariable() { set(old_); }
    EnvironmentVariable(const EnvironmentVariable&) = delete;
    EnvironmentVariable& operator=(const EnvironmentVariable&) = delete;

  private:
    void set(const std::optional<std::string>& value) {
#ifdef _WIN32
        // An empty value removes the variable on Windows.
        ::_putenv_s(name_, value ? value->c_str() : "");
#else
        if (value) {
            ::setenv(name_, value->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
#endif
    }

    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace q70::test
