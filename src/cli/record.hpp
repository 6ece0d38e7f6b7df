#pragma once
// What a q70ctl command prints on stdout: named values in a fixed order, as NAME=VALUE
// lines or as one JSON object with the same names. Scripts rely on both forms, so the
// names and their order are the program's interface. A record inside a record is an
// object in JSON and NAME.INNER=VALUE in the lines.

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace q70::cli {

// The "schema" of every JSON document q70ctl prints: raised when a document changes in a
// way that a script reading it must know of.
inline constexpr int kJsonSchema = 1;

class Record {
  public:
    void text(std::string name, std::string value);
    // Text from the board or a file: as text in JSON, escaped by lineEscaped in lines.
    void foreignText(std::string name, std::string value);
    void number(std::string name, std::int64_t value);
    void flag(std::string name, bool value);  // 1/0 in lines, true/false in JSON
    void null(std::string name);              // an empty value in lines
    void numbers(std::string name, const std::vector<std::int64_t>& values);  // "1 2 3" in lines
    void object(std::string name, const Record& inner);
    // Every field of `other`, after these.
    void append(const Record& other);

    void printLines(std::ostream& out) const;
    // One line: {"name": value, ...}
    void printJson(std::ostream& out) const;
    std::string json() const;  // the same, without the line end

  private:
    enum class Kind { Text, ForeignText, Number, Flag, Null, Numbers, Object };
    struct Field {
        std::string name;
        Kind kind;
        std::string text;
        std::int64_t number;
        std::vector<std::int64_t> numbers;
        std::vector<Field> inner;
    };
    static void appendJson(std::string& out, const std::vector<Field>& fields);
    static void printLines(std::ostream& out, const std::vector<Field>& fields,
                           const std::string& prefix);
    std::vector<Field> fields_;
};

// `bytes` as a JSON string, quotes included. Well-formed UTF-8 is kept; any other byte
// becomes the character of the same value (\u0080 to \u00FF), so the board's own bytes
// can always be told apart and nothing makes the output invalid.
std::string jsonQuoted(std::string_view bytes);

// `bytes` for one NAME=VALUE line: a backslash becomes \\, a line feed \n, a carriage
// return \r, a tab \t, and any other control character (C0, DEL, and C1 written as
// UTF-8) \xHH for each of its bytes, so that no text can end its line early or reach the
// terminal as a control, and every byte can be read back.
std::string lineEscaped(std::string_view bytes);

}  // namespace q70::cli
