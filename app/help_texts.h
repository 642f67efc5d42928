// The built-in texts shown in the text window: the user guide, the summary of
// what can be typed in the search box, the release notes and what is new after
// an update. Plain text with "\n" line breaks.
#pragma once

extern const wchar_t* const kUserGuideText;
extern const wchar_t* const kSearchTricksText;
extern const wchar_t* const kReleaseNotesText;
extern const wchar_t* const kWhatsNewText;

// Web pages on the site that serves the releases.
extern const wchar_t* const kUserGuideUrl;
extern const wchar_t* const kDownloadPageUrl;
