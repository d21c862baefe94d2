#pragma once
// Run-time binding of the regular-expression library and the editor's search routines.
// Nothing links against the library: it is opened with dlopen, so a machine without it still
// runs the program, with regular-expression search unavailable.
#include <chrono>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The library's header defines struct re_registers, a regex_t and a UChar macro, which clash with
// the C library's <regex.h> (GoogleTest, among others, includes it). Its declarations therefore
// live in our namespace; include this header instead of <oniguruma.h>. Only the types and the
// ONIG_ constants are of use: nothing links against the library, so its functions and objects are
// reached through api() and Symbol().
#define ONIG_ESCAPE_UCHAR_COLLISION 1
#define ONIG_ESCAPE_REGEX_T_COLLISION 1
namespace pek::onig::lib {
#include <oniguruma.h>
}  // namespace pek::onig::lib

// The type names the callers use, at global scope as the library's header would have them.
using OnigUChar = pek::onig::lib::OnigUChar;
using OnigOptionType = pek::onig::lib::OnigOptionType;
using OnigEncodingType = pek::onig::lib::OnigEncodingType;
using OnigEncoding = pek::onig::lib::OnigEncoding;
using OnigSyntaxType = pek::onig::lib::OnigSyntaxType;
using OnigRegex = pek::onig::lib::OnigRegex;
using OnigRegion = pek::onig::lib::OnigRegion;
using OnigErrorInfo = pek::onig::lib::OnigErrorInfo;

namespace pek::onig {

// Opens the library ("libonig.so.5", then "libonig.so") and resolves every public name; a name
// the library lacks stays null. Reference-counted and thread-safe: a Load that returns true takes
// one reference, which its Unload gives back; a Load that returns false takes none and must not be
// paired with an Unload. The library's global state is set up once when the first reference is
// taken and torn down (onig_end, then dlclose) only when the last one is given back, so a pattern
// compiled on one thread stays valid while other threads compile and search.
bool Load();
void Unload();
bool Loaded();

// Load trying the given file names in order instead of the usual two (when the library is already
// loaded this only takes a reference). For tests of a machine without the library.
bool LoadFrom(std::span<const char* const> fileNames);

// Holds one reference for its lifetime: ok() tells whether the library is available.
class Library {
public:
    Library() : ok_(Load()) {}
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    bool ok() const { return ok_; }

private:
    bool ok_;
};

// The resolved entry points the program uses (null when not loaded or missing). Valid to read
// only while the caller holds a reference; callers never call onig_end or onig_initialize
// themselves (Unload does on the last reference).
struct Api {
    decltype(&lib::onig_new) onig_new = nullptr;
    decltype(&lib::onig_search) onig_search = nullptr;
    decltype(&lib::onig_free) onig_free = nullptr;
    decltype(&lib::onig_region_new) onig_region_new = nullptr;
    decltype(&lib::onig_region_free) onig_region_free = nullptr;
    decltype(&lib::onig_error_code_to_str) onig_error_code_to_str = nullptr;
    decltype(&lib::onig_end) onig_end = nullptr;
    decltype(&lib::onig_version) onig_version = nullptr;
    decltype(&lib::onig_copyright) onig_copyright = nullptr;
    decltype(&lib::onig_initialize) onig_initialize = nullptr;
    decltype(&lib::onig_init) onig_init = nullptr;
    OnigEncodingType* OnigEncodingASCII = nullptr;
    OnigEncodingType* OnigEncodingSJIS = nullptr;
    OnigSyntaxType* OnigSyntaxRuby = nullptr;
    OnigSyntaxType* OnigSyntaxASIS = nullptr;
};
const Api& api();

// Looks up any public name of the library by its name; null when unknown or not resolved.
void* Symbol(std::string_view name);

// Every public name the binding resolves (the library's declared interface), in table order.
std::span<const std::string_view> SymbolNames();

// One find-all hit: 1-based byte offset, byte length, and the texts of the non-empty groups.
struct Match {
    int start = 0;
    int length = 0;
    std::vector<std::string> groups;
};

// Bounds on the library's work, set when it is loaded where the loaded build offers them: the
// back-tracking one match may do from one start and one search call over all its starts, the
// entries of its back-tracking stack, and the calls of named groups (\g<name>) in one search. A
// search past them ends with the library's error instead of running on for minutes or taking
// gigabytes; each is about a second of work at most.
inline constexpr unsigned long RetryLimitInMatch = 10'000'000;
inline constexpr unsigned long RetryLimitInSearch = 100'000'000;
inline constexpr unsigned int MatchStackLimit = 1'000'000;
inline constexpr unsigned long SubexpCallLimitInSearch = 300'000;
// The longest pattern compiled: the library's compile time grows with the square of a pattern's
// length (8 KB takes about a tenth of a second, 64 KB several seconds).
inline constexpr std::size_t MaxPatternBytes = 8 * 1024;

// The library's text for a result code (a compile failure or a search that gave up).
std::string ErrorText(int code);

// Owns a compiled pattern, and a reference to the library so that it can always be freed.
class Regex {
public:
    Regex() = default;
    explicit Regex(OnigRegex handle);
    ~Regex();
    Regex(Regex&& other) noexcept : handle_(other.handle_), gaveUp_(std::move(other.gaveUp_)) { other.handle_ = nullptr; }
    Regex& operator=(Regex&& other) noexcept;
    Regex(const Regex&) = delete;
    Regex& operator=(const Regex&) = delete;

    OnigRegex get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

    // The library's text when a FindAll with this pattern gave up (empty otherwise). FindAll calls
    // outside a SearchBudget then find nothing more with it: painting the marks of a pattern that
    // gave up must not pay for it again on every line. Use a Regex from one thread at a time.
    const std::string& GaveUp() const { return gaveUp_; }

private:
    friend int FindAll(std::string_view, const Regex&, bool, std::vector<Match>&, std::size_t);
    void Reset() noexcept;

    OnigRegex handle_ = nullptr;
    mutable std::string gaveUp_;
};

// Bounds the FindAll calls this thread makes while it lives, as one search (the lines of one F3):
// once the time is up or the library gives up on one call, the later ones find nothing, and
// Error() says why. Budgets nest; the innermost one counts. Not for sharing between threads.
class SearchBudget {
public:
    explicit SearchBudget(std::chrono::steady_clock::duration time);
    ~SearchBudget();
    SearchBudget(const SearchBudget&) = delete;
    SearchBudget& operator=(const SearchBudget&) = delete;

    // Empty while the search may go on.
    const std::string& Error() const { return error_; }

    // The innermost budget of this thread, or null.
    static SearchBudget* Current();
    // False, with Error() set, once the time is up or an error was told.
    bool Allows();
    void Fail(std::string why);

private:
    std::chrono::steady_clock::time_point deadline_;
    std::string error_;
    SearchBudget* outer_;
};

// Patterns handed to the library for compiling since the program started (for tests and
// measurements: compiling is the expensive part of a search).
unsigned long long CompileCount();

// Compiles pattern (up to its first zero byte) for Shift-JIS text. On failure returns an empty
// Regex and puts the library's error text into *error when given (an empty text when the
// library is not available or the syntax is null). A pattern longer than MaxPatternBytes is
// refused unread, with a text of its own.
Regex CompileForSearch(std::string_view pattern, OnigOptionType options, OnigSyntaxType* syntax,
                       std::string* error = nullptr);

// Appends every match of regex in text, from the start, each search resuming at the end of the
// last match; with wholeWord only matches whose both ends change character class. An empty match
// (possible only without ONIG_OPTION_FIND_NOT_EMPTY) is skipped. Returns matches.size(). A search
// the library gives up on (its work bounds) ends there: see Regex::GaveUp and SearchBudget.
int FindAll(std::string_view text, const Regex& regex, bool wholeWord, std::vector<Match>& matches);
// The same for matches that start at or before byte lastStart (0-based); they may run past it.
int FindAll(std::string_view text, const Regex& regex, bool wholeWord, std::vector<Match>& matches,
            std::size_t lastStart);

}  // namespace pek::onig
