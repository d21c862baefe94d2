// Loading, reference counting and thread safety of the regular-expression library binding.
#include "regex/Onig.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace pek::onig {
namespace {

// An independent handle on the same library, to compare what the binding resolved.
class RawLibrary {
public:
    RawLibrary() : handle_(dlopen("libonig.so.5", RTLD_NOW | RTLD_LOCAL)) {}
    ~RawLibrary()
    {
        if (handle_)
            dlclose(handle_);
    }
    RawLibrary(const RawLibrary&) = delete;
    RawLibrary& operator=(const RawLibrary&) = delete;
    void* Find(std::string_view name) const { return dlsym(handle_, std::string(name).c_str()); }
    bool ok() const { return handle_ != nullptr; }

private:
    void* handle_;
};

TEST(OnigBinding, LoadResolvesEveryNameTheLibraryHas)
{
    ASSERT_TRUE(Load());
    EXPECT_TRUE(Loaded());
    const RawLibrary raw;
    ASSERT_TRUE(raw.ok());

    // The declared interface: at least the encodings, encoding functions, syntaxes and functions.
    EXPECT_GE(SymbolNames().size(), 30u + 11u + 11u + 50u);
    int resolved = 0;
    for (std::string_view name : SymbolNames()) {
        EXPECT_EQ(Symbol(name), raw.Find(name)) << name;
        resolved += Symbol(name) != nullptr;
    }
    EXPECT_GE(resolved, 30 + 11 + 11 + 50);
    for (const char* name : {"OnigEncodingASCII", "OnigEncodingSJIS", "OnigEncodingGB18030", "onigenc_init",
                             "onigenc_str_bytelen_null", "OnigSyntaxASIS", "OnigSyntaxRuby", "OnigDefaultSyntax",
                             "onig_init", "onig_new", "onig_search", "onig_end", "onig_copyright"})
        EXPECT_NE(Symbol(name), nullptr) << name;
    EXPECT_EQ(Symbol("onig_no_such_function"), nullptr);

    const Api& a = api();
    EXPECT_EQ(reinterpret_cast<void*>(a.onig_new), Symbol("onig_new"));
    EXPECT_EQ(reinterpret_cast<void*>(a.onig_search), Symbol("onig_search"));
    EXPECT_EQ(reinterpret_cast<void*>(a.onig_error_code_to_str), Symbol("onig_error_code_to_str"));
    EXPECT_EQ(static_cast<void*>(a.OnigEncodingSJIS), Symbol("OnigEncodingSJIS"));
    EXPECT_EQ(static_cast<void*>(a.OnigSyntaxRuby), Symbol("OnigSyntaxRuby"));
    EXPECT_EQ(static_cast<void*>(a.OnigSyntaxASIS), Symbol("OnigSyntaxASIS"));
    ASSERT_NE(a.onig_version, nullptr);
    ASSERT_NE(a.onig_copyright, nullptr);
    EXPECT_STRNE(a.onig_version(), "");
    EXPECT_STRNE(a.onig_copyright(), "");

    Unload();
    EXPECT_FALSE(Loaded());
    EXPECT_EQ(Symbol("onig_new"), nullptr);
    EXPECT_EQ(api().onig_new, nullptr);
    EXPECT_EQ(api().OnigEncodingSJIS, nullptr);
}

TEST(OnigBinding, ReferencesAreCounted)
{
    ASSERT_TRUE(Load());
    ASSERT_TRUE(Load());
    Unload();
    EXPECT_TRUE(Loaded());
    EXPECT_NE(Symbol("onig_new"), nullptr);
    Unload();
    EXPECT_FALSE(Loaded());
    Unload();  // one too many gives nothing back that is not held
    EXPECT_FALSE(Loaded());
    {
        const Library library;
        EXPECT_TRUE(library.ok());
        EXPECT_TRUE(Loaded());
    }
    EXPECT_FALSE(Loaded());
}

TEST(OnigBinding, ReloadsAfterTheLastReferenceWentAndSearchesAgain)
{
    for (int round = 0; round < 3; ++round) {
        const Library library;
        ASSERT_TRUE(library.ok());
        const Regex rx = CompileForSearch("b+", ONIG_OPTION_FIND_NOT_EMPTY, api().OnigSyntaxRuby);
        ASSERT_TRUE(rx);
        std::vector<Match> hits;
        EXPECT_EQ(FindAll("abbc b", rx, false, hits), 2);
    }
    EXPECT_FALSE(Loaded());
}

TEST(OnigBinding, CompiledPatternKeepsTheLibraryLoaded)
{
    Regex rx;
    {
        const Library library;
        ASSERT_TRUE(library.ok());
        rx = CompileForSearch("x", ONIG_OPTION_FIND_NOT_EMPTY, api().OnigSyntaxASIS);
        ASSERT_TRUE(rx);
    }
    // The control that loaded is gone; the pattern still searches and is freed properly.
    EXPECT_TRUE(Loaded());
    std::vector<Match> hits;
    EXPECT_EQ(FindAll("axbx", rx, false, hits), 2);
    Regex moved = std::move(rx);
    EXPECT_FALSE(rx);
    EXPECT_TRUE(Loaded());
    moved = Regex();
    EXPECT_FALSE(Loaded());
}

TEST(OnigBinding, MissingLibraryLeavesEverythingUnsetAndNothingCallsIn)
{
    ASSERT_FALSE(Loaded());
    const char* const missing[] = {"libpek-no-such-regex-library.so.5", "libpek-no-such-regex-library.so"};
    EXPECT_FALSE(LoadFrom(missing));
    EXPECT_FALSE(Loaded());
    EXPECT_EQ(Symbol("onig_new"), nullptr);
    EXPECT_EQ(api().onig_new, nullptr);
    EXPECT_EQ(api().OnigSyntaxRuby, nullptr);

    // Search falls back to nothing found rather than a call through a null pointer.
    std::string error = "stale";
    const Regex rx = CompileForSearch("a", ONIG_OPTION_FIND_NOT_EMPTY, nullptr, &error);
    EXPECT_FALSE(rx);
    EXPECT_EQ(error, "");
    std::vector<Match> hits;
    EXPECT_EQ(FindAll("aaa", rx, false, hits), 0);
    EXPECT_EQ(FindAll("aaa", rx, true, hits), 0);
}

TEST(OnigBinding, LoadFromOnlyCountsWhenAlreadyLoaded)
{
    ASSERT_TRUE(Load());
    const char* const missing[] = {"libpek-no-such-regex-library.so"};
    EXPECT_TRUE(LoadFrom(missing));
    Unload();
    EXPECT_TRUE(Loaded());
    Unload();
    EXPECT_FALSE(Loaded());
}

// Scripts compile and search on their own threads while editors search on the main thread. A
// pattern compiled on one thread must stay valid while others compile, fail to compile and
// search; tearing down the library's global state after each search breaks exactly this.
TEST(OnigThreads, ConcurrentCompileAndSearchKeepEachOthersPatterns)
{
    const Library library;
    ASSERT_TRUE(library.ok());
    OnigSyntaxType* const ruby = api().OnigSyntaxRuby;
    const OnigOptionType options = ONIG_OPTION_FIND_NOT_EMPTY | ONIG_OPTION_IGNORECASE;
    const Regex longLived = CompileForSearch("(\\w+)@(\\w+)", options, ruby);
    ASSERT_TRUE(longLived);
    const std::string mail = "to: ab@cd, EF@GH; x@y";

    std::atomic<int> wrong{0};
    std::atomic<bool> running{true};
    const int kThreads = 4;
    const int kRounds = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const Library mine;
            if (!mine.ok()) {
                ++wrong;
                return;
            }
            const char* const patterns[] = {"a(b)(x)?c", "[0-9]+", "(?<w>o)\\k<w>", "\\bfoo\\b"};
            const char* const texts[] = {"zabc abxc", "12 a 345", "foo boo oo", "foo food foo"};
            const int expected[] = {2, 2, 3, 2};
            for (int i = 0; i < kRounds; ++i) {
                const int k = (i + t) % 4;
                std::string error;
                const Regex rx = CompileForSearch(patterns[k], options, ruby);
                std::vector<Match> hits;
                if (!rx || FindAll(texts[k], rx, false, hits) != expected[k])
                    ++wrong;
                if (CompileForSearch("a(", ONIG_OPTION_FIND_NOT_EMPTY, ruby, &error) || error.empty())
                    ++wrong;
            }
        });
    }
    // Meanwhile the pattern compiled before the threads started keeps working.
    std::thread user([&] {
        while (running) {
            std::vector<Match> hits;
            const std::vector<std::string> second = {"EF@GH", "EF", "GH"};
            if (FindAll(mail, longLived, false, hits) != 3 || hits[1].groups != second)
                ++wrong;
        }
    });
    for (std::thread& th : threads)
        th.join();
    running = false;
    user.join();
    EXPECT_EQ(wrong, 0);
    std::vector<Match> hits;
    EXPECT_EQ(FindAll(mail, longLived, false, hits), 3);
}

TEST(OnigThreads, LoadAndUnloadFromManyThreads)
{
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                const Library library;
                if (!library.ok() || !Loaded() || Symbol("onig_search") == nullptr) {
                    ++wrong;
                    continue;
                }
                const Regex rx = CompileForSearch("b", ONIG_OPTION_FIND_NOT_EMPTY, api().OnigSyntaxASIS);
                std::vector<Match> hits;
                if (FindAll("abcb", rx, false, hits) != 2)
                    ++wrong;
            }
        });
    }
    for (std::thread& th : threads)
        th.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_FALSE(Loaded());
}

}  // namespace
}  // namespace pek::onig
