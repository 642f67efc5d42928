// The updater's portable rules: the manifest reader, version comparison, the
// download's decisions and the install mode.
#include <gtest/gtest.h>

#include <string>

#include "update/download_rules.h"
#include "update/install.h"
#include "update/update_manifest.h"

namespace {

ov::WString W(const char16_t* text) {
    ov::WString out;
    for (; *text; ++text) out += static_cast<ov::WChar>(*text);
    return out;
}

ov::WString Get(const char* json, const char* key, int outChars = 64, int* found = nullptr) {
    std::basic_string<ov::WChar> out(static_cast<size_t>(outChars), static_cast<ov::WChar>('#'));
    const int result = JsonGetString(json, key, out.data(), outChars);
    if (found) *found = result;
    return ov::WString(out.c_str());
}

TEST(UpdateRules, JsonGetStringTable) {
    const struct {
        const char* json;
        const char* key;
        int found;
        const char16_t* value;
    } rows[] = {
        {R"({"version": "1.2.3"})", "version", 1, u"1.2.3"},
        {R"({"a":{"version":"9"},"version":"1"})", "version", 1, u"9"},  // first occurrence anywhere
        {R"({"notes":"say \"version\": 5","version":"2"})", "version", 1, u"2"},
        {R"({"notes":"a\"b\\c\/d\bx\ty\r\nz"})", "notes", 1, u"a\"b\\c/dbx\ty\nz"},
        {R"({"notes":"caf\u00e9 \ud83d\ude00"})", "notes", 1, u"caf\u00e9 \U0001F600"},
        {R"({"notes":"\ud83d\u0041"})", "notes", 1,
         u"\xD83D"
         u"A"},  // a high unit never pairs with a non-low one
        {R"({"notes":"\uzz"})", "notes", 1, u"uzz"},
        {R"({"size": 123456, "x":1})", "size", 1, u"123456"},
        {R"({"size":	12	3})", "size", 1, u"12\t3"},  // a tab does not end a bare token
        {R"({"size":true})", "size", 1, u"true"},
        {R"({"notes":""})", "notes", 1, u""},
        {R"({"notes":)", "notes", 1, u""},
        {R"({"notes" x: "1"})", "notes", 0, u""},
        {R"({"other":"1"})", "notes", 0, u""},
        {"{\"notes\":\"ab\\", "notes", 1, u"ab\\"},
    };
    for (const auto& row : rows) {
        int found = -1;
        EXPECT_EQ(Get(row.json, row.key, 64, &found), W(row.value)) << row.json;
        EXPECT_EQ(found, row.found) << row.json;
    }
}

TEST(UpdateRules, LongValuesAreCutNotEmptiedAndNeverSplitAPair) {
    std::string notes = "{\"notes\":\"";
    for (int i = 0; i < 40; ++i) notes += "\\ud83d\\ude00";  // 80 units
    notes += "\"}";
    // Room for 4 units: two whole pairs. Room for 5: still two, never a lone high half.
    EXPECT_EQ(Get(notes.c_str(), "notes", 5), W(u"\U0001F600\U0001F600"));
    EXPECT_EQ(Get(notes.c_str(), "notes", 6), W(u"\U0001F600\U0001F600"));
    const std::string longAscii = "{\"exe\":\"" + std::string(5000, 'x') + "\"}";
    EXPECT_EQ(Get(longAscii.c_str(), "exe", 600), ov::WString(599, 'x'));
}

TEST(UpdateRules, CompareVersionsTable) {
    const struct {
        const char16_t* a;
        const char16_t* b;
        int order;
    } rows[] = {
        {u"1.0.1", u"1.0.1", 0},
        {u"1.0.1.0", u"1.0.1", 0},
        {u"1.2", u"1.2.0.0", 0},
        {u"1.10", u"1.9", 1},
        {u"1.0.2", u"1.0.10", -1},
        {u"2", u"1.99.99.99", 1},
        {u"", u"0.0", 0},
        {u"x", u"1", -1},
        {u"1.x.5", u"1.0.0", 0},
        {u"-1", u"0", -1},
        // Huge numbers clamp to the largest int instead of wrapping to small or negative ones.
        {u"99999999999999999999.1", u"2147483647.1", 0},
        {u"99999999999999999999", u"2147483646", 1},
        {u"1.4294967297", u"1.2", 1},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(CompareVersions(W(row.a).c_str(), W(row.b).c_str()), row.order);
        EXPECT_EQ(CompareVersions(W(row.b).c_str(), W(row.a).c_str()), -row.order);
    }
}

TEST(UpdateRules, ReadManifestFieldsAndCompleteness) {
    const std::string hash(64, 'A');
    std::string body = R"({"version":"1.2.0","exe":"https://h/o.exe","sha256":")" + hash +
                       R"(","notes":"x","size":"4294967296999","setup":"https://h/s.exe"})";
    UpdateInfo info;
    ReadManifest(body.c_str(), info);
    EXPECT_EQ(info.ok, 1);
    EXPECT_EQ(info.size, 0xFFFFFFFFu);  // clamped, not wrapped
    EXPECT_EQ(info.setup_size, 0u);
    EXPECT_EQ(ov::WString(info.setup), W(u"https://h/s.exe"));
    for (int length : {63, 65}) {
        UpdateInfo bad;
        const std::string text = R"({"version":"1","exe":"e","sha256":")" + std::string(length, 'a') + "\"}";
        ReadManifest(text.c_str(), bad);
        EXPECT_EQ(bad.ok, 0) << length;
        EXPECT_EQ(ov::WString(bad.error), W(u"The update information on the server is incomplete."));
    }
    UpdateInfo counts;
    ReadManifest(R"({"size":-5,"setup_size":77})", counts);
    EXPECT_EQ(counts.size, 0u);
    EXPECT_EQ(counts.setup_size, 77u);
}

TEST(UpdateRules, DownloadDecisions) {
    EXPECT_TRUE(IsHttpsUrl(W(u"HTTPS://host/x").c_str()));
    for (const char16_t* url : {u"http://host/x", u"ftp://host/x", u"https:/host", u"", u"file:///c:/x"})
        EXPECT_FALSE(IsHttpsUrl(W(url).c_str()));

    EXPECT_EQ(DownloadLimit(0), kDownloadHardCap);
    EXPECT_EQ(DownloadLimit(30000), 30000u);
    EXPECT_EQ(CheckDownloadSize(19999, 0), kTextIncomplete);
    EXPECT_EQ(CheckDownloadSize(19999, 19999), kTextIncomplete);
    EXPECT_EQ(CheckDownloadSize(20000, 0), nullptr);
    EXPECT_EQ(CheckDownloadSize(30000, 30001), kTextWrongSize);
    EXPECT_EQ(CheckDownloadSize(30000ull + (1ull << 32), 30000), kTextWrongSize);  // all 64 bits compared

    const ov::WString digest = W(u"0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef");
    EXPECT_TRUE(
        DigestMatches(digest.c_str(), W(u"0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF").c_str()));
    ov::WString changed = digest;
    changed[40] = '1';
    EXPECT_FALSE(DigestMatches(digest.c_str(), changed.c_str()));
    EXPECT_FALSE(DigestMatches(W(u"").c_str(), W(u"").c_str()));

    EXPECT_TRUE(VersionResourceMatches(W(u"orvane").c_str(), W(u"1.2.0.0").c_str(), false, W(u"1.2").c_str()));
    EXPECT_FALSE(VersionResourceMatches(W(u"Orvane").c_str(), W(u"1.2.0").c_str(), true, W(u"1.2").c_str()));
    EXPECT_TRUE(VersionResourceMatches(W(u"Orvane Setup").c_str(), W(u"1.2.0").c_str(), true, W(u"1.2").c_str()));
    EXPECT_FALSE(VersionResourceMatches(W(u"Orvane").c_str(), W(u"1.1").c_str(), false, W(u"1.2").c_str()));
    EXPECT_FALSE(VersionResourceMatches(W(u"Orvane").c_str(), W(u"").c_str(), false, W(u"0").c_str()));

    // A version from the server never leaves the temporary folder or adds a stream name.
    EXPECT_EQ(DownloadFileName(W(u"C:\\T\\"), W(u"..\\..\\x:y/1.2").c_str(), false),
              W(u"C:\\T\\Orvane-update-.._.._x_y_1.2.exe"));
    EXPECT_EQ(DownloadFileName(W(u"C:\\T\\"), W(u"1.2.0").c_str(), true), W(u"C:\\T\\Orvane-Setup-1.2.0.exe"));

    EXPECT_EQ(DownloadPercent(0, 0), 0);
    EXPECT_EQ(DownloadPercent(50, 200), 25);
    EXPECT_EQ(DownloadPercent(5000000000ull, 100), 100);
}

TEST(UpdateRules, FirstNotesLine) {
    EXPECT_EQ(FirstNotesLine(W(u"\u2022 Faster start\r\nSecond").c_str()), W(u"Faster start\r"));
    EXPECT_EQ(FirstNotesLine(W(u" - * x").c_str()), W(u"x"));
    const ov::WString longLine(200, 'a');
    EXPECT_EQ(FirstNotesLine(longLine.c_str()), ov::WString(150, 'a'));
    ov::WString pairAtEdge(149, 'a');
    pairAtEdge += W(u"\U0001F600 tail");
    EXPECT_EQ(FirstNotesLine(pairAtEdge.c_str()), ov::WString(149, 'a'));
}

TEST(UpdateRules, InstallModeDecision) {
    const ov::WString dir = W(u"C:\\Program Files\\Orvane");
    EXPECT_EQ(DecideInstallMode(dir, W(u""), W(u"")), kPortable);
    EXPECT_EQ(DecideInstallMode(dir, W(u"c:\\program files\\ORVANE\\\\"), W(u"")), kInstalledForEveryone);
    EXPECT_EQ(DecideInstallMode(dir, W(u"D:\\Other"), W(u"C:\\Program Files\\Orvane\\")), kInstalledForUser);
    EXPECT_EQ(DecideInstallMode(dir, W(u"C:\\Program Files\\Orvane2"), W(u"C:\\Program Files")), kPortable);
    EXPECT_EQ(DecideInstallMode(dir, W(u"\\"), W(u"")), kPortable);  // all backslashes is no folder
}

}  // namespace
