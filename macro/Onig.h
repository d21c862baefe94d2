#pragma once
// Run-time binding of the regular-expression library and the editor's search routines.
// Nothing links against the library: it is opened with dlopen, so a machine without it still
// runs the program, with regular-expression search unavailable.
#include <oniguruma.h>

#include <string>
#include <string_view>
#include <vector>

namespace pek::onig {

// Opens the library ("libonig.so.5", then "libonig.so") and resolves every public name; a name
// the library lacks stays null. Reference-counted: each editor control that loads also unloads.
bool Load();
void Unload();
bool Loaded();

// The resolved entry points the program uses (null when not loaded or missing).
struct Api {
    decltype(&::onig_new) onig_new = nullptr;
    decltype(&::onig_search) onig_search = nullptr;
    decltype(&::onig_free) onig_free = nullptr;
    decltype(&::onig_region_new) onig_region_new = nullptr;
    decltype(&::onig_region_free) onig_region_free = nullptr;
    decltype(&::onig_error_code_to_str) onig_error_code_to_str = nullptr;
    decltype(&::onig_end) onig_end = nullptr;
    decltype(&::onig_version) onig_version = nullptr;
    OnigEncodingType* OnigEncodingSJIS = nullptr;
    OnigSyntaxType* OnigSyntaxRuby = nullptr;
    OnigSyntaxType* OnigSyntaxASIS = nullptr;
};
const Api& api();

// Looks up any public name of the library by its name; null when unknown or not resolved.
void* Symbol(std::string_view name);

// One find-all hit: 1-based byte offset, byte length, and the texts of the non-empty groups.
struct Match {
    int start = 0;
    int length = 0;
    std::vector<std::string> groups;
};

// Owns a compiled pattern.
class Regex {
public:
    Regex() = default;
    explicit Regex(OnigRegex handle) : handle_(handle) {}
    ~Regex();
    Regex(Regex&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    Regex& operator=(Regex&& other) noexcept;
    Regex(const Regex&) = delete;
    Regex& operator=(const Regex&) = delete;

    OnigRegex get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    OnigRegex handle_ = nullptr;
};

// Compiles pattern (up to its first zero byte) for Shift-JIS text. On failure returns an empty
// Regex and puts the library's error text into *error when given.
Regex CompileForSearch(std::string_view pattern, OnigOptionType options, OnigSyntaxType* syntax,
                       std::string* error = nullptr);

// Every match of regex in text, from the start, each search resuming at the end of the last match;
// with wholeWord only matches whose both ends change character class. Returns matches.size().
int FindAll(std::string_view text, const Regex& regex, bool wholeWord, std::vector<Match>& matches);

// Character class (0 to 6) of the character covering the 1-based byte position pos of text.
int CharClass(std::string_view text, long long pos);

}  // namespace pek::onig
