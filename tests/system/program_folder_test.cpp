// Where the program keeps its files: the build tree's own folder, or a per-user copy of an
// installed folder, kept in step with package upgrades without losing the user's language.

#include "system/program_folder.hpp"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>

#include "config/paths.hpp"
#include "support/environment_variable.hpp"

namespace fs = std::filesystem;
using q70::system::isSharedFolder;
using q70::system::kInstalledMarkerName;
using q70::system::resolveProgramFolder;
using q70::system::seedProgramFolder;
using q70::system::userProgramFolder;

namespace {

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void put(const fs::path& p, const std::string& content) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary | std::ios::trunc) << content;
}

using EnvVar = q70::test::EnvironmentVariable;

// copy_file's overwrite_existing fails on mingw's libstdc++ when the target exists.
void copyOver(const fs::path& from, const fs::path& to, fs::copy_options) {
    fs::remove(to);
    fs::copy_file(from, to);
}

// The variable that names the base of the per-user folder.
#ifdef _WIN32
constexpr const char* kUserBase = "LOCALAPPDATA";
#else
constexpr const char* kUserBase = "XDG_DATA_HOME";
#endif

class ProgramFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::random_device rd;
        root_ = fs::temp_directory_path() / ("q70-progfolder-" + std::to_string(rd()));
        fs::create_directories(root_);
        installed_ = root_ / "usr" / "lib" / "q70";
        // An installed folder as the package lays it out.
        put(installed_ / "Q70Uty.ini", "[General]\nLanguage=ENGLISH\n");
        put(installed_ / "Q70Uty.html", "<p>help</p>");
        for (const char* code : {"ENG", "JPN", "CHS"}) {
            put(installed_ / "Loc" / code / "Q70Uty.ini",
                std::string("[General]\nLanguage=") + code + "\n");
            put(installed_ / "Loc" / code / "Q70Uty.html", std::string("<p>") + code + "</p>");
        }
        // The top-level files are the English ones, as shipped.
        copyOver(installed_ / "Loc" / "ENG" / "Q70Uty.ini", installed_ / "Q70Uty.ini",
                 fs::copy_options::overwrite_existing);
        put(installed_ / std::string(kInstalledMarkerName), "");
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(root_, ec);
    }

    fs::path root_;
    fs::path installed_;
};

TEST_F(ProgramFolderTest, WritableFolderWithoutMarkerIsUsedAsItIs) {
    // A build tree: the executables' folder is the program folder, nothing is copied.
    const fs::path build = root_ / "build" / "bin";
    put(build / "Q70Uty.ini", "[General]\n");
    EnvVar xdg(kUserBase, (root_ / "xdg").string());

    EXPECT_FALSE(isSharedFolder(build.string()));
    EXPECT_EQ(resolveProgramFolder(build.string()), build.string());
    EXPECT_FALSE(fs::exists(root_ / "xdg"));
}

TEST_F(ProgramFolderTest, InstalledFolderGivesASeededPerUserFolder) {
    EnvVar xdg(kUserBase, (root_ / "xdg").string());

    const std::string folder = resolveProgramFolder(installed_.string());

    EXPECT_EQ(folder, (root_ / "xdg" / "q70").string());
    for (const char* rel : {"Q70Uty.ini", "Q70Uty.html", "Loc/ENG/Q70Uty.ini", "Loc/JPN/Q70Uty.ini",
                            "Loc/CHS/Q70Uty.ini", "Loc/ENG/Q70Uty.html", "Loc/JPN/Q70Uty.html",
                            "Loc/CHS/Q70Uty.html"}) {
        EXPECT_EQ(slurp(fs::path(folder) / rel), slurp(installed_ / rel)) << rel;
    }
    // The marker belongs to the installed folder only; the user's copy is a plain folder.
    EXPECT_FALSE(fs::exists(fs::path(folder) / std::string(kInstalledMarkerName)));
    EXPECT_FALSE(isSharedFolder(folder));
}

TEST_F(ProgramFolderTest, LanguageSwitchChangesOnlyTheUsersCopy) {
    EnvVar xdg(kUserBase, (root_ / "xdg").string());
    const std::string folder = resolveProgramFolder(installed_.string());
    const auto paths = q70::config::Paths::fromProgramFolder(folder);

    q70::config::switchLanguageFiles(paths, q70::config::Language::Japanese);

    EXPECT_EQ(slurp(paths.iniPath), "[General]\nLanguage=JPN\n");
    EXPECT_EQ(slurp(paths.helpPath), "<p>JPN</p>");
    EXPECT_EQ(slurp(installed_ / "Q70Uty.ini"), "[General]\nLanguage=ENG\n");

    // The next start keeps the user's choice.
    EXPECT_EQ(resolveProgramFolder(installed_.string()), folder);
    EXPECT_EQ(slurp(paths.iniPath), "[General]\nLanguage=JPN\n");
    EXPECT_EQ(slurp(paths.helpPath), "<p>JPN</p>");
}

TEST_F(ProgramFolderTest, UpgradeRefreshesLanguageFilesAndUntouchedActiveCopies) {
    const fs::path user = root_ / "user";
    ASSERT_TRUE(seedProgramFolder(installed_.string(), user.string()));
    // The user chose Japanese, then edited the help file by hand.
    copyOver(user / "Loc/JPN/Q70Uty.ini", user / "Q70Uty.ini",
             fs::copy_options::overwrite_existing);
    put(user / "Q70Uty.html", "<p>my notes</p>");

    // A new package version changes the Japanese files.
    put(installed_ / "Loc/JPN/Q70Uty.ini", "[General]\nLanguage=JPN\nVersion=1.01\n");
    put(installed_ / "Loc/JPN/Q70Uty.html", "<p>JPN 1.01</p>");
    ASSERT_TRUE(seedProgramFolder(installed_.string(), user.string()));

    EXPECT_EQ(slurp(user / "Loc/JPN/Q70Uty.ini"), "[General]\nLanguage=JPN\nVersion=1.01\n");
    EXPECT_EQ(slurp(user / "Loc/JPN/Q70Uty.html"), "<p>JPN 1.01</p>");
    // The active INI was an unchanged copy of the old Japanese file: it follows the upgrade.
    EXPECT_EQ(slurp(user / "Q70Uty.ini"), "[General]\nLanguage=JPN\nVersion=1.01\n");
    // The edited help file is the user's own and stays.
    EXPECT_EQ(slurp(user / "Q70Uty.html"), "<p>my notes</p>");
    // No temporary files are left behind.
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::recursive_directory_iterator(user)) ++entries;
    EXPECT_EQ(entries, 2 + 1 + 3 + 6);  // two active files, Loc/, three folders, six files
}

TEST_F(ProgramFolderTest, MissingFilesAreRestoredOnTheNextStart) {
    const fs::path user = root_ / "user";
    ASSERT_TRUE(seedProgramFolder(installed_.string(), user.string()));
    fs::remove(user / "Q70Uty.ini");
    fs::remove_all(user / "Loc" / "CHS");

    ASSERT_TRUE(seedProgramFolder(installed_.string(), user.string()));

    EXPECT_EQ(slurp(user / "Q70Uty.ini"), slurp(installed_ / "Q70Uty.ini"));
    EXPECT_EQ(slurp(user / "Loc/CHS/Q70Uty.html"), "<p>CHS</p>");
}

TEST_F(ProgramFolderTest, UserFolderFollowsXdgDataHomeThenHome) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows keeps the folder in LOCALAPPDATA";
#endif
    {
        EnvVar xdg("XDG_DATA_HOME", "/data/alice/");
        EXPECT_EQ(userProgramFolder(), "/data/alice/q70");
    }
    {
        // Unset, empty or relative: the XDG default under HOME.
        EnvVar home("HOME", "/home/bob");
        for (const std::optional<std::string>& value :
             {std::optional<std::string>{}, std::optional<std::string>{""},
              std::optional<std::string>{"relative/dir"}}) {
            EnvVar xdg("XDG_DATA_HOME", value);
            EXPECT_EQ(userProgramFolder(), "/home/bob/.local/share/q70");
        }
    }
    {
        // Without HOME the password database still knows the home folder.
        EnvVar xdg("XDG_DATA_HOME", std::nullopt);
        EnvVar home("HOME", std::nullopt);
        const std::string folder = userProgramFolder();
        EXPECT_TRUE(folder.empty() || fs::path(folder).is_absolute()) << folder;
    }
}

TEST_F(ProgramFolderTest, FallsBackToTheInstalledFolderWhenNoUserFolderCanBeMade) {
    // XDG_DATA_HOME below a regular file: the folder cannot be created.
    put(root_ / "not-a-folder", "x");
    EnvVar xdg(kUserBase, (root_ / "not-a-folder").string());

    EXPECT_FALSE(seedProgramFolder(installed_.string(), (root_ / "not-a-folder/q70").string()));
    EXPECT_EQ(resolveProgramFolder(installed_.string()), installed_.string());
}

TEST_F(ProgramFolderTest, ReadOnlyFolderWithoutMarkerIsShared) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no read-only folders by mode bits";
#else
    if (::geteuid() == 0) GTEST_SKIP() << "root may write everywhere";
#endif
    const fs::path copy = root_ / "opt" / "q70";
    put(copy / "Q70Uty.ini", "[General]\nLanguage=ENG\n");
    fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_exec);
    EnvVar xdg(kUserBase, (root_ / "xdg").string());

    EXPECT_TRUE(isSharedFolder(copy.string()));
    EXPECT_EQ(resolveProgramFolder(copy.string()), (root_ / "xdg" / "q70").string());
    EXPECT_EQ(slurp(root_ / "xdg" / "q70" / "Q70Uty.ini"), "[General]\nLanguage=ENG\n");
    fs::permissions(copy, fs::perms::owner_all);
}

}  // namespace
