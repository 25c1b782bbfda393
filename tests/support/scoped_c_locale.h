// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// C library locales for tests that need one the machine may not have
// installed (Turkish case rules, a decimal separator of several bytes).
// A locale that is missing is made with localedef into a temporary folder,
// found there through LOCPATH, and used by the calling thread only
// (uselocale), so the process's own locale is never changed.

#include <locale.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <optional>
#include <string>

extern char** environ;

namespace quorvex::testing_support {

class ScopedCLocale {
public:
    // Makes `name` ("tr_TR.UTF-8": the source locale, a dot, the character
    // map) the calling thread's locale for the categories in `mask`
    // (LC_CTYPE_MASK, LC_NUMERIC_MASK, ...) while this object lives. ok() is
    // false, with the reason in error(), when it can neither be found nor
    // made; the test then skips.
    ScopedCLocale(int mask, const std::string& name) {
        locale_ = newlocale(mask, name.c_str(), static_cast<locale_t>(nullptr));
        if (!locale_) locale_ = Built(mask, name);
        if (locale_) old_ = uselocale(locale_);
    }
    ~ScopedCLocale() {
        if (!locale_) return;
        uselocale(old_);
        freelocale(locale_);
    }
    ScopedCLocale(const ScopedCLocale&) = delete;
    ScopedCLocale& operator=(const ScopedCLocale&) = delete;

    bool ok() const { return locale_ != nullptr; }
    const std::string& error() const { return error_; }

private:
    // One folder for the whole run, removed when the process ends.
    struct Folder {
        std::filesystem::path path;
        ~Folder() {
            std::error_code ignored;
            if (!path.empty()) std::filesystem::remove_all(path, ignored);
        }
    };

    locale_t Built(int mask, const std::string& name) {
        static Folder folder;
        if (folder.path.empty()) {
            std::string pattern = (std::filesystem::temp_directory_path() / "quorvex-locales.XXXXXX").string();
            if (!mkdtemp(pattern.data())) {
                error_ = "no temporary folder for locales";
                return nullptr;
            }
            folder.path = pattern;
        }
        const auto dot = name.find('.');
        if (dot == std::string::npos) {
            error_ = name + ": no character map in the name";
            return nullptr;
        }
        const std::string source = name.substr(0, dot);
        const std::string charmap = name.substr(dot + 1);
        const std::string target = (folder.path / name).string();
        if (!std::filesystem::exists(target)) {
            // -c: warnings about characters the map lacks still give a locale.
            const char* argv[] = {"localedef", "-c", "-i", source.c_str(), "-f", charmap.c_str(), target.c_str(),
                                  nullptr};
            pid_t pid = 0;
            int status = 0;
            if (posix_spawnp(&pid, "localedef", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0 ||
                waitpid(pid, &status, 0) != pid || !std::filesystem::exists(std::filesystem::path(target) / "LC_CTYPE")) {
                error_ = name + " is not installed and localedef could not make it";
                return nullptr;
            }
        }
        // LOCPATH only for the lookup, as it would hide the system's locale
        // archive from everything else.
        const char* old = getenv("LOCPATH");
        const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
        setenv("LOCPATH", folder.path.c_str(), 1);
        locale_t made = newlocale(mask, name.c_str(), static_cast<locale_t>(nullptr));
        if (saved) {
            setenv("LOCPATH", saved->c_str(), 1);
        } else {
            unsetenv("LOCPATH");
        }
        if (!made) error_ = name + " was made but cannot be loaded";
        return made;
    }

    locale_t locale_ = nullptr;
    locale_t old_ = nullptr;
    std::string error_;
};

}  // namespace quorvex::testing_support
