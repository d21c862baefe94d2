#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/Profile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <optional>
#include <random>

using namespace pek;
using pek::test::ReadFileBytes;
using pek::test::WriteFileBytes;

class ProfileTest : public ::testing::Test {
protected:
    pek::test::TempDir dir;
    std::string path = dir.file("pek.ini").string();
    ProfileFile ini{path};
};

TEST_F(ProfileTest, MissingFileGivesDefaultsAndWriteCreatesIt)
{
    EXPECT_EQ(ini.ReadString("No0", "PortNo", "1"), "1");
    EXPECT_EQ(ini.ReadInteger("No0", "PortNo", 7), 7);
    EXPECT_TRUE(ini.ReadSections().empty());
    ini.WriteInteger("No0", "PortNo", 3);
    EXPECT_EQ(ReadFileBytes(path), "[No0]\r\nPortNo=3\r\n");
    EXPECT_EQ(ini.ReadInteger("no0", "PORTNO", 7), 3);
}

TEST_F(ProfileTest, NamesCompareWithoutCaseButTrailBytesAreNotFolded)
{
    const std::string env = Sjis("環境");
    const std::string search = Sjis("検索");
    ini.WriteString(env, search, "abc");
    EXPECT_EQ(ini.ReadString(env, search, ""), "abc");
    // 0x8A 0xC2 vs 0x8A 0xE2: folding the trail byte would wrongly match another character.
    std::string other = env;
    other[1] = static_cast<char>(0xE2);
    EXPECT_EQ(ini.ReadString(other, search, "none"), "none");
    EXPECT_EQ(ini.ReadSections(), std::vector<std::string>{env});
}

TEST_F(ProfileTest, WritesKeepUnrelatedLinesByteForByte)
{
    const std::string original =
        "; comment kept\r\n[A]\r\nx = 1 \r\nodd line without equals\r\n\r\n[B]\nY=2\n[C]\r\nz=3";
    WriteFileBytes(path, original);
    ini.WriteString("a", "X", "42");
    ini.WriteString("b", "new", "v");
    ini.WriteString("C", "w", "9");
    EXPECT_EQ(ReadFileBytes(path),
              "; comment kept\r\n[A]\r\nX=42\r\nodd line without equals\r\n\r\n[B]\nY=2\nnew=v\r\n[C]\r\nz=3\r\nw=9\r\n");
    EXPECT_EQ(ini.ReadString("A", "x", ""), "42");
    EXPECT_EQ(ini.ReadString("B", "y", ""), "2");
}

TEST_F(ProfileTest, ValuesAreTrimmedNotUnquoted)
{
    WriteFileBytes(path, "[S]\nk =  \"a b\"  \nempty=\n");
    EXPECT_EQ(ini.ReadString("S", "k", ""), "\"a b\"");
    EXPECT_EQ(ini.ReadString("S", "empty", "def"), "");
    EXPECT_TRUE(ini.ValueExists("S", "EMPTY"));
    EXPECT_FALSE(ini.ValueExists("S", "none"));
}

TEST_F(ProfileTest, MalformedNumbersFallBackToTheDefault)
{
    WriteFileBytes(path, "[S]\na=12x\nb=\nc=0x1F\nd=$ff\ne=-5\nf=99999999999\ng=0xFFFFFFFF\nbool=1\nbool0=0\n");
    EXPECT_EQ(ini.ReadInteger("S", "a", -1), -1);
    EXPECT_EQ(ini.ReadInteger("S", "b", -1), -1);
    EXPECT_EQ(ini.ReadInteger("S", "c", -1), 31);
    EXPECT_EQ(ini.ReadInteger("S", "d", -1), 255);
    EXPECT_EQ(ini.ReadInteger("S", "e", 0), -5);
    EXPECT_EQ(ini.ReadInteger("S", "f", 7), 7);
    EXPECT_EQ(ini.ReadInteger("S", "g", 7), -1);
    EXPECT_TRUE(ini.ReadBool("S", "bool", false));
    EXPECT_FALSE(ini.ReadBool("S", "bool0", true));
    EXPECT_TRUE(ini.ReadBool("S", "missing", true));
}

TEST_F(ProfileTest, SectionsListEraseAndDeleteKey)
{
    WriteFileBytes(path, "[No0]\na=1\nb=2\n[No1]\na=1\n[no0]\nc=3\n[Main]\nx=1\n");
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"No0", "No1", "Main"}));
    EXPECT_EQ(ini.ReadSectionKeys("NO0"), (std::vector<std::string>{"a", "b"}));
    ini.DeleteKey("No0", "A");
    EXPECT_EQ(ini.ReadString("No0", "a", "gone"), "gone");
    EXPECT_EQ(ini.ReadString("No0", "b", ""), "2");
    ini.EraseSection("no1");
    EXPECT_FALSE(ini.SectionExists("No1"));
    EXPECT_EQ(ReadFileBytes(path), "[No0]\nb=2\n[no0]\nc=3\n[Main]\nx=1\n");
    ini.EraseSection("absent");
    ini.DeleteKey("Main", "absent");
    EXPECT_EQ(ini.ReadString("Main", "x", ""), "1");
}

TEST(CommaText, QuotesOnlyWhatNeedsIt)
{
    EXPECT_EQ(ToCommaText({"ATZ", "AT&F", "a b", "x,y", "say \"hi\"", ""}),
              "ATZ,AT&F,\"a b\",\"x,y\",\"say \"\"hi\"\"\",\"\"");
    EXPECT_EQ(ToCommaText({}), "");
}

TEST(CommaText, RoundTripsEveryKindOfItem)
{
    const std::vector<std::vector<std::string>> cases = {
        {}, {""}, {"", ""}, {"a"}, {" lead", "trail ", "tab\there"}, {"\"", "\"\"", ","},
        {Sjis("検索"), Sjis("ソ表"), "!macro.lua"}, {"a", "", "b"},
    };
    for (const auto& items : cases) EXPECT_EQ(FromCommaText(ToCommaText(items)), items) << ToCommaText(items);
}

TEST(CommaText, ReadsHandWrittenLists)
{
    EXPECT_EQ(FromCommaText("  a , b,c,"), (std::vector<std::string>{"a", "b", "c", ""}));
    EXPECT_EQ(FromCommaText("a b"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(FromCommaText("\"unterminated"), (std::vector<std::string>{"unterminated"}));
}

TEST_F(ProfileTest, LineBreaksCannotSmuggleKeysOrSectionsIn)
{
    ini.WriteString("S", "k", "v");
    EXPECT_THROW(ini.WriteString("S", "InpCmd", "AT\r\n[No7]\r\nComPortOpen=0"), Exception);
    EXPECT_THROW(ini.WriteString("S\n", "k", "v"), Exception);
    EXPECT_THROW(ini.WriteString("S", "k\r", "v"), Exception);
    EXPECT_EQ(ReadFileBytes(path), "[S]\r\nk=v\r\n");
}

TEST_F(ProfileTest, NamesThatCouldNotBeReadBackAreRefusedAndWriteNothing)
{
    ini.WriteString("S", "k", "v");
    const std::string before = ReadFileBytes(path);
    const std::string lone = "a\x82";
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"S", "a=b"}, {"S", ";k"}, {"S", "[k"}, {"S", " k"}, {"S", "k "}, {"S", ""}, {"S", lone},
        {"S]", "k"}, {" S", "k"}, {"S\t", "k"}, {lone, "k"},
    };
    for (const auto& [section, key] : refused)
        EXPECT_THROW(ini.WriteString(section, key, "x"), Exception) << section << "/" << key;
    EXPECT_EQ(ReadFileBytes(path), before);
    ini.WriteString("S", Sjis("検索") + "k", "ok");  // trail bytes inside a name are fine
    EXPECT_EQ(ProfileFile(path).ReadString("s", Sjis("検索") + "K", ""), "ok");
}

TEST_F(ProfileTest, EveryCopyOfADuplicatedKeyGoes)
{
    WriteFileBytes(path, "[S]\nk=1\nx=0\nK=2\nk=3\n");
    EXPECT_EQ(ini.ReadSectionKeys("S"), (std::vector<std::string>{"k", "x"}));
    ini.WriteString("S", "k", "new");
    EXPECT_EQ(ReadFileBytes(path), "[S]\nk=new\nx=0\n");
    WriteFileBytes(path, "[S]\nk=1\nK=2\n[s]\nk=9\n");
    ini.DeleteKey("S", "k");
    EXPECT_EQ(ini.ReadString("S", "k", "gone"), "gone");
    ini.EraseSection("S");
    EXPECT_FALSE(ini.SectionExists("S"));
    EXPECT_EQ(ReadFileBytes(path), "");
}

TEST_F(ProfileTest, BatchWritesOnceOnCommitAndDiscardsOtherwise)
{
    WriteFileBytes(path, "[Old]\na=1\n[Keep]\nb=2\n");
    {
        ProfileBatch batch(ini);
        ini.EraseSection("Old");
        ini.WriteInteger("No0", "ComPortNo", 3);
        ini.DeleteKey("Keep", "b");
        EXPECT_FALSE(ini.SectionExists("Old"));
        EXPECT_EQ(ini.ReadInteger("No0", "ComPortNo", 0), 3);
        EXPECT_EQ(ReadFileBytes(path), "[Old]\na=1\n[Keep]\nb=2\n");
        {
            ProfileBatch inner(ini);
            ini.WriteString("No0", "Dropped", "1");
        }
        {
            ProfileBatch inner(ini);
            ini.WriteString("No0", "Joined", "1");
            inner.Commit();
        }
        EXPECT_FALSE(ini.ValueExists("No0", "Dropped"));
        EXPECT_EQ(ReadFileBytes(path), "[Old]\na=1\n[Keep]\nb=2\n");
        batch.Commit();
    }
    EXPECT_EQ(ReadFileBytes(path), "[Keep]\n[No0]\nComPortNo=3\nJoined=1\n");
    {
        ProfileBatch batch(ini);
        ini.WriteString("Keep", "b", "lost");
    }
    EXPECT_FALSE(ini.ValueExists("Keep", "b"));
    EXPECT_EQ(ReadFileBytes(path), "[Keep]\n[No0]\nComPortNo=3\nJoined=1\n");
}

TEST_F(ProfileTest, BatchKeepsWhatAnotherProgramWroteMeanwhile)
{
    ini.WriteString("A", "a", "1");
    ProfileBatch batch(ini);
    ini.WriteString("A", "mine", "2");
    ProfileFile(path).WriteString("B", "theirs", "3");
    batch.Commit();
    const ProfileFile fresh(path);
    EXPECT_EQ(fresh.ReadString("A", "mine", ""), "2");
    EXPECT_EQ(fresh.ReadString("B", "theirs", ""), "3");
}

TEST_F(ProfileTest, WritesGoThroughALinkAndKeepThePermissions)
{
    namespace fs = std::filesystem;
    const fs::path target = dir.file("real.ini");
    WriteFileBytes(target, "[S]\r\nk=1\r\n");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
    fs::remove(path);
    fs::create_symlink("real.ini", path);
    for (const bool batched : {false, true}) {
        std::optional<ProfileBatch> batch;
        if (batched) batch.emplace(ini);
        ini.WriteString("S", "k", batched ? "3" : "2");
        if (batch) batch->Commit();
        EXPECT_TRUE(fs::is_symlink(path));
        EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(ReadFileBytes(target), batched ? "[S]\r\nk=3\r\n" : "[S]\r\nk=2\r\n");
    }
    for (const auto& entry : fs::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

TEST_F(ProfileTest, AFailedWriteThrowsAndABatchStaysPendingForARetry)
{
    namespace fs = std::filesystem;
    const fs::path folder = dir.file("later");
    ProfileFile elsewhere((folder / "pek.ini").string());
    EXPECT_THROW(elsewhere.WriteString("S", "k", "2"), Exception);
    ProfileBatch batch(elsewhere);
    elsewhere.WriteString("S", "k", "3");
    EXPECT_THROW(batch.Commit(), Exception);
    EXPECT_EQ(elsewhere.ReadString("S", "k", ""), "3");  // still pending: the batch has not ended
    fs::create_directory(folder);
    batch.Commit();
    EXPECT_EQ(ReadFileBytes(folder / "pek.ini"), "[S]\r\nk=3\r\n");
}

// Random writes, deletions, erasures and batches against a plain map; a fresh reader of the file
// must agree with the object that wrote it.
TEST_F(ProfileTest, AgreesWithAMapUnderRandomChanges)
{
    std::mt19937 random(8);
    const std::vector<std::string> sections = {"No0", "NO0", "No1", Sjis("環境"), "Editor"};
    const std::vector<std::string> keys = {"a", "A", "EditorAll_d1", Sjis("検索"), "k"};
    const auto fold = [](std::string s) {
        for (char& c : s) c = (c >= 'A' && c <= 'Z') ? char(c + 32) : c;  // the names above hold no trail letters
        return s;
    };
    std::map<std::string, std::map<std::string, std::string>> model, committed;
    std::optional<ProfileBatch> batch;
    for (int step = 0; step < 600; ++step) {
        const std::string& s = sections[random() % sections.size()];
        const std::string& k = keys[random() % keys.size()];
        switch (random() % 8) {
        case 0: ini.EraseSection(s), model.erase(fold(s)); break;
        case 1:
            ini.DeleteKey(s, k);
            if (model.count(fold(s))) model[fold(s)].erase(fold(k));
            break;
        case 2:
            if (!batch) batch.emplace(ini);
            else if (random() % 2) batch->Commit(), batch.reset(), committed = model;
            else batch.reset(), model = committed;
            break;
        default: {
            const std::string value = std::to_string(random() % 1000);
            ini.WriteString(s, k, value);
            model[fold(s)][fold(k)] = value;
        }
        }
        if (!batch) committed = model;
        const auto lookup = [&](const auto& map, const std::string& sec, const std::string& key) -> std::string {
            const auto s = map.find(fold(sec));
            if (s == map.end()) return "-";
            const auto k = s->second.find(fold(key));
            return k == s->second.end() ? "-" : k->second;
        };
        const ProfileFile fresh(path);
        for (const auto& sec : sections)
            for (const auto& key : keys) {
                ASSERT_EQ(ini.ReadString(sec, key, "-"), lookup(model, sec, key)) << step;
                ASSERT_EQ(fresh.ReadString(sec, key, "-"), lookup(committed, sec, key)) << step;
            }
    }
}
