#pragma once
// A fresh folder per test, removed afterwards: stands in for the program folder.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>

namespace q70::test {

class TempFolder {
  public:
    TempFolder() {
        std::random_device rd;
        for (int attempt = 0; attempt < 100; ++attempt) {
            path_ = std::filesystem::temp_directory_path() /
                    ("q70-config-" + std::to_string(rd()) + std::to_string(attempt));
            if (std::filesystem::create_directory(path_)) return;
        }
        throw std::runtime_error("no temporary folder");
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }

    std::filesystem::path write(const std::filesystem::path& relative,
                                std::string_view content) const {
        const std::filesystem::path p = path_ / relative;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out << content;
        return p;
    }

  private:
    std::filesystem::path path_;
};

inline std::string readAll(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace q70::test
