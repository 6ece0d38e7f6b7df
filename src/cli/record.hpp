#pragma once
// What a q70ctl command prints on stdout: named values in a fixed order, as NAME=VALUE
// lines or as one JSON object with the same names. Scripts rely on both forms, so the
// names and their order are the program's interface.

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace q70::cli {

class Record {
  public:
    void text(std::string name, std::string value);
    void number(std::string name, std::int64_t value);
    void flag(std::string name, bool value);  // 1/0 in lines, true/false in JSON

    void printLines(std::ostream& out) const;
    // One line: {"name": value, ...}
    void printJson(std::ostream& out) const;

  private:
    enum class Kind { Text, Number, Flag };
    struct Field {
        std::string name;
        Kind kind;
        std::string text;
        std::int64_t number;
    };
    std::vector<Field> fields_;
};

// `bytes` as a JSON string, quotes included. Well-formed UTF-8 is kept; any other byte
// becomes the character of the same value (\u0080 to \u00FF), so the board's own bytes
// can always be told apart and nothing makes the output invalid.
std::string jsonQuoted(std::string_view bytes);

}  // namespace q70::cli
