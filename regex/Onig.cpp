#include "regex/Onig.h"

#include "platform/CharClass.h"

#include "platform/CodePage.h"

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <iterator>
#include <memory>
#include <mutex>
#include <type_traits>

namespace pek::onig {
namespace {

// The library's declared public interface. Names an older or newer build lacks stay null.
constexpr std::string_view kNames[] = {
    // Encoding objects and the default case-fold flag.
    "OnigDefaultCaseFoldFlag", "OnigEncodingASCII", "OnigEncodingISO_8859_1",
    "OnigEncodingISO_8859_2", "OnigEncodingISO_8859_3", "OnigEncodingISO_8859_4",
    "OnigEncodingISO_8859_5", "OnigEncodingISO_8859_6", "OnigEncodingISO_8859_7",
    "OnigEncodingISO_8859_8", "OnigEncodingISO_8859_9", "OnigEncodingISO_8859_10",
    "OnigEncodingISO_8859_11", "OnigEncodingISO_8859_13", "OnigEncodingISO_8859_14",
    "OnigEncodingISO_8859_15", "OnigEncodingISO_8859_16", "OnigEncodingUTF8",
    "OnigEncodingUTF16_BE", "OnigEncodingUTF16_LE", "OnigEncodingUTF32_BE", "OnigEncodingUTF32_LE",
    "OnigEncodingEUC_JP", "OnigEncodingEUC_TW", "OnigEncodingEUC_KR", "OnigEncodingEUC_CN",
    "OnigEncodingSJIS", "OnigEncodingKOI8", "OnigEncodingKOI8_R", "OnigEncodingCP1251",
    "OnigEncodingBIG5", "OnigEncodingGB18030",
    // Encoding functions.
    "onigenc_step_back", "onigenc_init", "onig_initialize_encoding", "onigenc_set_default_encoding",
    "onigenc_get_default_encoding", "onigenc_set_default_caseconv_table",
    "onigenc_get_right_adjust_char_head_with_prev", "onigenc_get_prev_char_head",
    "onigenc_get_left_adjust_char_head", "onigenc_get_right_adjust_char_head", "onigenc_strlen",
    "onigenc_strlen_null", "onigenc_str_bytelen_null", "onigenc_is_valid_mbc_string",
    "onigenc_strdup",
    // Syntax objects.
    "OnigSyntaxASIS", "OnigSyntaxPosixBasic", "OnigSyntaxPosixExtended", "OnigSyntaxEmacs",
    "OnigSyntaxGrep", "OnigSyntaxGnuRegex", "OnigSyntaxJava", "OnigSyntaxPerl", "OnigSyntaxPerl_NG",
    "OnigSyntaxRuby", "OnigSyntaxPython", "OnigSyntaxOniguruma", "OnigDefaultSyntax",
    // Functions.
    "onig_initialize", "onig_init", "onig_error_code_to_str", "onig_is_error_code_needs_param",
    "onig_set_warn_func", "onig_set_verb_warn_func", "onig_new", "onig_reg_init",
    "onig_new_without_alloc", "onig_new_deluxe", "onig_free", "onig_free_body", "onig_scan",
    "onig_search", "onig_search_with_param", "onig_match", "onig_match_with_param",
    "onig_regset_new", "onig_regset_add", "onig_regset_replace", "onig_regset_free",
    "onig_regset_number_of_regex", "onig_regset_get_regex", "onig_regset_get_region",
    "onig_regset_search", "onig_regset_search_with_param", "onig_region_new", "onig_region_init",
    "onig_region_free", "onig_region_copy", "onig_region_clear", "onig_region_resize",
    "onig_region_set", "onig_name_to_group_numbers", "onig_name_to_backref_number",
    "onig_foreach_name", "onig_number_of_names", "onig_number_of_captures",
    "onig_number_of_capture_histories", "onig_get_capture_tree", "onig_capture_tree_traverse",
    "onig_noname_group_capture_is_active", "onig_get_encoding", "onig_get_options",
    "onig_get_case_fold_flag", "onig_get_syntax", "onig_set_default_syntax", "onig_copy_syntax",
    "onig_get_syntax_op", "onig_get_syntax_op2", "onig_get_syntax_behavior",
    "onig_get_syntax_options", "onig_set_syntax_op", "onig_set_syntax_op2",
    "onig_set_syntax_behavior", "onig_set_syntax_options", "onig_set_meta_char",
    "onig_copy_encoding", "onig_get_default_case_fold_flag", "onig_set_default_case_fold_flag",
    "onig_get_match_stack_limit_size", "onig_set_match_stack_limit_size",
    "onig_get_retry_limit_in_match", "onig_set_retry_limit_in_match",
    "onig_get_retry_limit_in_search", "onig_set_retry_limit_in_search",
    "onig_get_parse_depth_limit", "onig_set_capture_num_limit", "onig_set_parse_depth_limit",
    "onig_get_subexp_call_limit_in_search", "onig_set_subexp_call_limit_in_search",
    "onig_get_subexp_call_max_nest_level", "onig_set_subexp_call_max_nest_level",
    "onig_unicode_define_user_property", "onig_end", "onig_version", "onig_copyright",
    "onig_get_callback_each_match", "onig_set_callback_each_match", "onig_new_match_param",
    "onig_free_match_param", "onig_free_match_param_content", "onig_initialize_match_param",
    "onig_set_match_stack_limit_size_of_match_param",
    "onig_set_retry_limit_in_match_of_match_param", "onig_set_retry_limit_in_search_of_match_param",
    "onig_set_progress_callout_of_match_param", "onig_set_retraction_callout_of_match_param",
    "onig_set_callout_user_data_of_match_param", "onig_get_progress_callout",
    "onig_set_progress_callout", "onig_get_retraction_callout", "onig_set_retraction_callout",
    "onig_set_callout_of_name", "onig_get_callout_name_by_name_id", "onig_get_callout_num_by_tag",
    "onig_get_callout_data_by_tag", "onig_set_callout_data_by_tag",
    "onig_get_callout_data_by_tag_dont_clear_old", "onig_get_callout_num_by_callout_args",
    "onig_get_callout_in_by_callout_args", "onig_get_name_id_by_callout_args",
    "onig_get_contents_by_callout_args", "onig_get_contents_end_by_callout_args",
    "onig_get_args_num_by_callout_args", "onig_get_passed_args_num_by_callout_args",
    "onig_get_arg_by_callout_args", "onig_get_string_by_callout_args",
    "onig_get_string_end_by_callout_args", "onig_get_start_by_callout_args",
    "onig_get_right_range_by_callout_args", "onig_get_current_by_callout_args",
    "onig_get_regex_by_callout_args", "onig_get_retry_counter_by_callout_args",
    "onig_callout_tag_is_exist_at_callout_num", "onig_get_callout_tag_start",
    "onig_get_callout_tag_end", "onig_get_callout_data_dont_clear_old",
    "onig_get_callout_data_by_callout_args_self_dont_clear_old", "onig_get_callout_data",
    "onig_get_callout_data_by_callout_args", "onig_get_callout_data_by_callout_args_self",
    "onig_set_callout_data", "onig_set_callout_data_by_callout_args",
    "onig_set_callout_data_by_callout_args_self", "onig_get_capture_range_in_callout",
    "onig_get_used_stack_size_in_callout", "onig_builtin_fail", "onig_builtin_mismatch",
    "onig_builtin_error", "onig_builtin_count", "onig_builtin_total_count", "onig_builtin_max",
    "onig_builtin_cmp", "onig_setup_builtin_monitors_by_ascii_encoded_name",
};
constexpr std::size_t kNameCount = std::size(kNames);

constexpr const char* kDefaultFiles[] = {"libonig.so.5", "libonig.so"};

// The one process-wide binding: the library handle, the resolved names and who holds them.
struct Binding {
    std::mutex mutex;
    int refs = 0;
    void* handle = nullptr;
    std::array<void*, kNameCount> values{};
    Api api;
    std::atomic<unsigned long long> compiles{0};
};

Binding& TheBinding()
{
    static Binding binding;
    return binding;
}

std::size_t IndexOf(std::string_view name)
{
    return static_cast<std::size_t>(std::find(std::begin(kNames), std::end(kNames), name) -
                                    std::begin(kNames));
}

template <class T>
void Take(T& field, std::string_view name, const std::array<void*, kNameCount>& values)
{
    const std::size_t i = IndexOf(name);
    void* const value = i < kNameCount ? values[i] : nullptr;
    if constexpr (std::is_function_v<std::remove_pointer_t<T>>)
        field = reinterpret_cast<T>(value);
    else
        field = static_cast<T>(value);
}

Api MakeApi(const std::array<void*, kNameCount>& values)
{
    Api a;
    Take(a.onig_new, "onig_new", values);
    Take(a.onig_search, "onig_search", values);
    Take(a.onig_free, "onig_free", values);
    Take(a.onig_region_new, "onig_region_new", values);
    Take(a.onig_region_free, "onig_region_free", values);
    Take(a.onig_error_code_to_str, "onig_error_code_to_str", values);
    Take(a.onig_end, "onig_end", values);
    Take(a.onig_version, "onig_version", values);
    Take(a.onig_copyright, "onig_copyright", values);
    Take(a.onig_initialize, "onig_initialize", values);
    Take(a.onig_init, "onig_init", values);
    Take(a.OnigEncodingASCII, "OnigEncodingASCII", values);
    Take(a.OnigEncodingSJIS, "OnigEncodingSJIS", values);
    Take(a.OnigSyntaxRuby, "OnigSyntaxRuby", values);
    Take(a.OnigSyntaxASIS, "OnigSyntaxASIS", values);
    return a;
}

// Sets up the library's global state once per load. Doing it lazily inside the first onig_new
// would race between threads compiling at the same time.
bool Initialize(const Api& a)
{
    if (a.onig_initialize) {
        std::array<OnigEncoding, 2> encodings{};
        int n = 0;
        for (OnigEncoding e : {a.OnigEncodingASCII, a.OnigEncodingSJIS})
            if (e)
                encodings[static_cast<std::size_t>(n++)] = e;
        return a.onig_initialize(encodings.data(), n) == ONIG_NORMAL;
    }
    if (a.onig_init)
        return a.onig_init() == ONIG_NORMAL;
    return true;
}

// The work bounds are the library's global settings, and only this program uses them; a build
// without the setters has no bounds of its own (searches of the editor still stop on time).
void SetWorkLimits(const std::array<void*, kNameCount>& values)
{
    decltype(&lib::onig_set_retry_limit_in_match) inMatch = nullptr;
    decltype(&lib::onig_set_retry_limit_in_search) inSearch = nullptr;
    decltype(&lib::onig_set_match_stack_limit_size) stack = nullptr;
    decltype(&lib::onig_set_subexp_call_limit_in_search) calls = nullptr;
    Take(inMatch, "onig_set_retry_limit_in_match", values);
    Take(inSearch, "onig_set_retry_limit_in_search", values);
    Take(stack, "onig_set_match_stack_limit_size", values);
    Take(calls, "onig_set_subexp_call_limit_in_search", values);
    if (inMatch)
        inMatch(RetryLimitInMatch);
    if (inSearch)
        inSearch(RetryLimitInSearch);
    if (stack)
        stack(MatchStackLimit);
    if (calls)
        calls(SubexpCallLimitInSearch);
}

thread_local SearchBudget* tCurrentBudget = nullptr;

struct RegionFree {
    void operator()(OnigRegion* region) const { api().onig_region_free(region, 1); }
};

}  // namespace

bool LoadFrom(std::span<const char* const> fileNames)
{
    Binding& b = TheBinding();
    const std::lock_guard lock(b.mutex);
    if (b.refs > 0) {
        ++b.refs;
        return true;
    }
    void* handle = nullptr;
    for (const char* name : fileNames) {
        handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
        if (handle)
            break;
    }
    if (!handle)
        return false;
    std::array<void*, kNameCount> values{};
    for (std::size_t i = 0; i < kNameCount; ++i)
        values[i] = dlsym(handle, kNames[i].data());  // the names are literals, so zero-terminated
    const Api a = MakeApi(values);
    if (!Initialize(a)) {
        dlclose(handle);
        return false;
    }
    SetWorkLimits(values);
    b.handle = handle;
    b.values = values;
    b.api = a;
    b.refs = 1;
    return true;
}

bool Load()
{
    return LoadFrom(kDefaultFiles);
}

void Unload()
{
    Binding& b = TheBinding();
    const std::lock_guard lock(b.mutex);
    if (b.refs == 0 || --b.refs > 0)
        return;
    // Nobody holds a compiled pattern or searches any more: only now may the global state go.
    if (b.api.onig_end)
        b.api.onig_end();
    dlclose(b.handle);
    b.handle = nullptr;
    b.values.fill(nullptr);
    b.api = Api{};
}

bool Loaded()
{
    Binding& b = TheBinding();
    const std::lock_guard lock(b.mutex);
    return b.refs > 0;
}

Library::~Library()
{
    if (ok_)
        Unload();
}

const Api& api()
{
    return TheBinding().api;
}

void* Symbol(std::string_view name)
{
    Binding& b = TheBinding();
    const std::lock_guard lock(b.mutex);
    const std::size_t i = IndexOf(name);
    return i < kNameCount ? b.values[i] : nullptr;
}

unsigned long long CompileCount()
{
    return TheBinding().compiles.load(std::memory_order_relaxed);
}

std::span<const std::string_view> SymbolNames()
{
    return kNames;
}

Regex::Regex(OnigRegex handle) : handle_(handle)
{
    // A handle can only come from a loaded library; the reference keeps it loaded until freed.
    if (handle_ && !Load())
        handle_ = nullptr;
}

Regex::~Regex()
{
    Reset();
}

Regex& Regex::operator=(Regex&& other) noexcept
{
    if (this != &other) {
        Reset();
        handle_ = other.handle_;
        other.handle_ = nullptr;
    }
    return *this;
}

void Regex::Reset() noexcept
{
    if (!handle_)
        return;
    if (api().onig_free)
        api().onig_free(handle_);
    handle_ = nullptr;
    Unload();
}

std::string ErrorText(int code)
{
    const Library library;
    if (!library.ok() || !api().onig_error_code_to_str)
        return {};
    std::array<OnigUChar, ONIG_MAX_ERROR_MESSAGE_LEN> text{};
    const int n = api().onig_error_code_to_str(text.data(), code);
    const auto len = static_cast<std::size_t>(std::clamp(n, 0, static_cast<int>(text.size()) - 1));
    return std::string(reinterpret_cast<const char*>(text.data()), len);
}

SearchBudget::SearchBudget(std::chrono::steady_clock::duration time)
    : deadline_(std::chrono::steady_clock::now() + time), outer_(tCurrentBudget)
{
    tCurrentBudget = this;
}

SearchBudget::~SearchBudget()
{
    tCurrentBudget = outer_;
}

SearchBudget* SearchBudget::Current()
{
    return tCurrentBudget;
}

bool SearchBudget::Allows()
{
    if (error_.empty() && std::chrono::steady_clock::now() >= deadline_)
        error_ = Sjis("検索を打ち切りました: 時間がかかりすぎます");
    return error_.empty();
}

void SearchBudget::Fail(std::string why)
{
    if (error_.empty())
        error_ = why.empty() ? Sjis("検索を打ち切りました") : std::move(why);
}

Regex CompileForSearch(std::string_view pattern, OnigOptionType options, OnigSyntaxType* syntax,
                       std::string* error)
{
    if (error)
        error->clear();
    const Library library;
    if (!library.ok())
        return {};
    const Api& a = api();
    if (!a.onig_new || !a.OnigEncodingSJIS || !syntax)
        return {};
    pattern = pattern.substr(0, pattern.find('\0'));
    if (pattern.size() > MaxPatternBytes) {
        if (error)
            *error = Sjis("パターンが長すぎます (") + std::to_string(MaxPatternBytes) + Sjis(" バイトまで)");
        return {};
    }
    static constexpr OnigUChar kEmpty[1] = {0};
    const OnigUChar* const p =
        pattern.empty() ? kEmpty : reinterpret_cast<const OnigUChar*>(pattern.data());
    OnigRegex handle = nullptr;
    OnigErrorInfo info{};
    TheBinding().compiles.fetch_add(1, std::memory_order_relaxed);
    const int r = a.onig_new(&handle, p, p + pattern.size(), options, a.OnigEncodingSJIS, syntax, &info);
    if (r != ONIG_NORMAL) {
        // The library releases the holder itself and leaves it null. The error info goes along:
        // some messages name a part of the pattern and read it from there.
        if (error && a.onig_error_code_to_str) {
            std::array<OnigUChar, ONIG_MAX_ERROR_MESSAGE_LEN> text{};
            const int n = a.onig_error_code_to_str(text.data(), r, &info);
            const auto len = static_cast<std::size_t>(std::clamp(n, 0, static_cast<int>(text.size()) - 1));
            error->assign(reinterpret_cast<const char*>(text.data()), len);
        }
        return {};
    }
    return Regex(handle);
}

int FindAll(std::string_view text, const Regex& regex, bool wholeWord, std::vector<Match>& matches)
{
    return FindAll(text, regex, wholeWord, matches, std::string_view::npos);
}

int FindAll(std::string_view text, const Regex& regex, bool wholeWord, std::vector<Match>& matches,
            std::size_t lastStart)
{
    const auto count = [&matches] { return static_cast<int>(matches.size()); };
    const Api& a = api();  // the regex holds a reference, so the entry points stay put
    if (!regex || text.empty() || !a.onig_search || !a.onig_region_new || !a.onig_region_free)
        return count();
    SearchBudget* const budget = SearchBudget::Current();
    if (budget ? !budget->Allows() : !regex.gaveUp_.empty())
        return count();
    // Match offsets are ints.
    text = text.substr(0, std::min<std::size_t>(text.size(), INT_MAX));
    const std::unique_ptr<OnigRegion, RegionFree> region(a.onig_region_new());
    if (!region)
        return count();
    const auto* const str = reinterpret_cast<const OnigUChar*>(text.data());
    const OnigUChar* const end = str + text.size();
    TClassWalker classes(text);
    // The search range stays the whole text: the library's literal-string shortcut reads the range
    // as a limit on the match as well, and then finds nothing that runs past it.
    lastStart = std::min(lastStart, text.size());
    const OnigUChar* const range = end;
    std::size_t from = 0;
    while (from <= lastStart) {
        if (budget && from > 0 && !budget->Allows())
            break;  // a long text with many hits
        const int r = a.onig_search(regex.get(), str, end, str + from, range, region.get(), ONIG_OPTION_NONE);
        if (r == ONIG_MISMATCH)
            break;
        if (r < 0) {
            // Out of its work bounds (or memory): the search ends here, and says so.
            regex.gaveUp_ = ErrorText(r);
            if (regex.gaveUp_.empty())
                regex.gaveUp_ = Sjis("検索を打ち切りました");
            if (budget)
                budget->Fail(regex.gaveUp_);
            break;
        }
        const auto s = static_cast<std::size_t>(region->beg[0]);
        const auto e = static_cast<std::size_t>(region->end[0]);
        if (s > lastStart)
            break;
        if (e <= s) {
            // Only a pattern compiled without the empty-match exclusion gets here; step over one
            // character so the loop ends.
            if (s >= text.size())
                break;
            from = s + CharLenAt(text, s);
            continue;
        }
        if (!wholeWord || classes.Passes(s, e)) {
            Match m;
            m.start = static_cast<int>(s) + 1;
            m.length = static_cast<int>(e - s);
            for (int i = 0; i < region->num_regs; ++i) {
                const int gb = region->beg[i];
                const int ge = region->end[i];
                if (gb >= 0 && ge > gb)
                    m.groups.emplace_back(text.substr(static_cast<std::size_t>(gb),
                                                      static_cast<std::size_t>(ge - gb)));
            }
            matches.push_back(std::move(m));
        }
        from = e;
    }
    return count();
}


}  // namespace pek::onig
