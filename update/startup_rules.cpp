#include "update/startup_rules.h"

namespace {

void Put(std::string& out, ov::WChar unit) {
    const auto value = static_cast<uint16_t>(unit);
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8);
}

void Put(std::string& out, const char* ascii) {
    for (; *ascii; ++ascii) Put(out, static_cast<ov::WChar>(*ascii));
}

void Put(std::string& out, const ov::WString& text) {
    for (ov::WChar unit : text) Put(out, unit);
}

void Append(ov::WString& out, const char* ascii) {
    for (; *ascii; ++ascii) out += static_cast<ov::WChar>(*ascii);
}

}  // namespace

ov::WString XmlEscape(const ov::WString& text) {
    ov::WString out;
    out.reserve(text.size());
    for (ov::WChar c : text) {
        switch (c) {
            case '&':
                Append(out, "&amp;");
                break;
            case '<':
                Append(out, "&lt;");
                break;
            case '>':
                Append(out, "&gt;");
                break;
            case '"':
                Append(out, "&quot;");
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string StartupTaskXml(const ov::WString& user, const ov::WString& exePath) {
    const ov::WString userText = XmlEscape(user);
    std::string out;
    Put(out, static_cast<ov::WChar>(0xFEFF));
    Put(out, "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n");
    Put(out, "<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n");
    Put(out,
        "<RegistrationInfo><Description>Starts Orvane (Keltrax) in the tray at sign-in, with administrator rights, so "
        "the file index stays live.</Description></RegistrationInfo>\r\n");
    Put(out, "<Triggers><LogonTrigger><Enabled>true</Enabled><UserId>");
    Put(out, userText);
    Put(out, "</UserId><Delay>PT5S</Delay></LogonTrigger></Triggers>\r\n");
    Put(out, "<Principals><Principal id=\"Author\"><UserId>");
    Put(out, userText);
    Put(out,
        "</UserId><LogonType>InteractiveToken</LogonType><RunLevel>HighestAvailable</RunLevel></Principal>"
        "</Principals>\r\n");
    Put(out,
        "<Settings><MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy><DisallowStartIfOnBatteries>false"
        "</DisallowStartIfOnBatteries><StopIfGoingOnBatteries>false</StopIfGoingOnBatteries><ExecutionTimeLimit>PT0S"
        "</ExecutionTimeLimit><Priority>5</Priority></Settings>\r\n");
    Put(out, "<Actions Context=\"Author\"><Exec><Command>");
    Put(out, XmlEscape(exePath));
    Put(out, "</Command><Arguments>/tray</Arguments></Exec></Actions>\r\n");
    Put(out, "</Task>\r\n");
    return out;
}
