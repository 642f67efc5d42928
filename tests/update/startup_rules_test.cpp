// The start-up task's document, byte for byte where the task tool is strict.
#include "update/startup_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

ov::WString W(const char* ascii) {
    ov::WString out;
    for (; *ascii; ++ascii) out += static_cast<ov::WChar>(*ascii);
    return out;
}

// The document's bytes read back as text (every unit below 0x100 here).
std::string Narrow(const std::string& bytes) {
    std::string out;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        EXPECT_EQ(bytes[i + 1], '\0') << "at byte " << i;
        out += bytes[i];
    }
    return out;
}

TEST(StartupRules, TaskDocumentIsUtf16WithCrLfLinesAndEscapedNames) {
    const std::string bytes = StartupTaskXml(W("DOM&<x>\\Jo'e\"s"), W("C:\\A&B <1>\\Orvane.exe"));
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), std::string("\xFF\xFE"));
    const std::string text = Narrow(bytes.substr(2));
    const std::string user = "DOM&amp;&lt;x&gt;\\Jo'e&quot;s";
    const std::string expected =
        "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
        "<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n"
        "<RegistrationInfo><Description>Starts Orvane (Keltrax) in the tray at sign-in, with administrator rights, so "
        "the file index stays live.</Description></RegistrationInfo>\r\n"
        "<Triggers><LogonTrigger><Enabled>true</Enabled><UserId>" +
        user +
        "</UserId><Delay>PT5S</Delay></LogonTrigger></Triggers>\r\n"
        "<Principals><Principal id=\"Author\"><UserId>" +
        user +
        "</UserId><LogonType>InteractiveToken</LogonType><RunLevel>HighestAvailable</RunLevel></Principal>"
        "</Principals>\r\n"
        "<Settings><MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy><DisallowStartIfOnBatteries>false"
        "</DisallowStartIfOnBatteries><StopIfGoingOnBatteries>false</StopIfGoingOnBatteries><ExecutionTimeLimit>PT0S"
        "</ExecutionTimeLimit><Priority>5</Priority></Settings>\r\n"
        "<Actions Context=\"Author\"><Exec><Command>C:\\A&amp;B &lt;1&gt;\\Orvane.exe</Command><Arguments>/tray"
        "</Arguments></Exec></Actions>\r\n"
        "</Task>\r\n";
    EXPECT_EQ(text, expected);
    // A unit beyond Latin-1 goes out as its two little-endian bytes.
    ov::WString wide = W("x");
    wide[0] = static_cast<ov::WChar>(0x263A);
    const std::string withWide = StartupTaskXml(wide, W("a"));
    EXPECT_NE(withWide.find(std::string(">\0\x3A\x26<\0", 6)), std::string::npos);
}

}  // namespace
