#pragma once
// Several boards in one q70ctl run: their addresses in order, each board's own file names,
// and its lines on the shared stdout and stderr.

#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>

namespace q70::cli {

// Address order: text order, with each run of digits compared as a number, so that
// usb:1-2 comes before usb:1-10, as `list` shows them.
bool addressLess(std::string_view a, std::string_view b);

// The address as part of a file name: letters, digits, '.' and '-' stay, anything else
// becomes '_' (usb:217-4.2 gives usb_217-4.2).
std::string fileNamePart(std::string_view address);

// `pattern` with every "{device}" replaced by fileNamePart(address).
std::string expandDevice(std::string_view pattern, std::string_view address);
bool namesDevice(std::string_view pattern);

// Hands whole lines to `target`, each after `prefix`, with `mutex` held: lines of boards
// that run at once never mix. A line not ended yet waits for its end (or finish()).
class LinePrefixer : public std::streambuf {
  public:
    LinePrefixer(std::ostream& target, std::mutex& mutex, std::string prefix)
        : target_(target), mutex_(mutex), prefix_(std::move(prefix)) {}
    ~LinePrefixer() override { finish(); }
    LinePrefixer(const LinePrefixer&) = delete;
    LinePrefixer& operator=(const LinePrefixer&) = delete;

    // Writes what is left of an unfinished line, ended.
    void finish();

  protected:
    int overflow(int c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;

  private:
    void emit();

    std::ostream& target_;
    std::mutex& mutex_;
    std::string prefix_;
    std::string line_;
};

}  // namespace q70::cli
