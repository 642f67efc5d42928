// The scheduled task's document for starting elevated at sign-in. Portable.
#pragma once

#include <string>

#include "index/platform.h"

// text for XML element content: & < > and " escaped, everything else as is.
ov::WString XmlEscape(const ov::WString& text);

// The Task Scheduler document (schema 1.2) as the bytes of its file: UTF-16
// little-endian with a byte-order mark, CR LF after each of its eight lines. A
// logon trigger for user, delayed 5 s, highest run level, exePath run with
// "/tray". user and exePath are escaped here.
std::string StartupTaskXml(const ov::WString& user, const ov::WString& exePath);
