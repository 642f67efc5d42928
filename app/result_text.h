// What the results list writes into its cells and stores of its columns, as
// portable rules: the column table, numbers with thousands separators, sizes in
// the three formats, attribute letters, the stored column widths and the marks
// of matched words. The list itself is results_list.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

constexpr int kColumnCount = 8;

// One row of the column table; the row index is the column's identity.
struct ColumnDef {
    const wchar_t* title;
    int width;  // DIP
    bool rightAligned;
    int sortKey;  // ov::SortKey; -1: the column does not sort
    bool shownByDefault;
};
extern const ColumnDef kColumns[kColumnCount];

// 12345678 as "12,345,678".
std::wstring FormatThousands(uint64_t value);

// The Size cell by the "SizeFormat" setting: 0 automatic (bytes, KB, MB, GB,
// TB), 1 always KB rounded up, 2 exact bytes.
std::wstring SizeText(uint64_t size, uint32_t format);

// One letter per attribute bit set, in the order R H S A C E L O.
std::wstring AttributeText(uint32_t attributes);

// "ColumnWidths": up to kColumnCount pieces, each counted only when a comma
// follows it; a piece from 20 to 2999 replaces widths[k], anything else keeps it.
void ReadColumnWidths(const std::wstring& text, int widths[kColumnCount]);
// The stored form: every width followed by a comma.
std::wstring ColumnWidthsText(const int widths[kColumnCount]);

// Per code unit of lower: whether it lies inside an occurrence of one of the
// words (already lower case). Occurrences may overlap: "aa" marks all of "aaa".
std::vector<bool> MatchMarks(std::wstring_view lower, const std::vector<std::wstring>& words);
