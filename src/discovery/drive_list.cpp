#include "discovery/drive_list.h"

#include <algorithm>
#include <iterator>

#include "discovery/capacity.h"
#include "discovery/number_text.h"
#include "discovery/system_drives.h"

namespace velmaris::discovery {

namespace {

// ASCII only, so that UTF-8 in a model text passes through intact.
std::string AsciiLower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    return text;
}

std::string AsciiUpper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
    return text;
}

void RemoveAll(std::string& text, const std::string& part) {
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at)) {
        text.erase(at, part.size());
    }
}

bool IsPositiveSize(const std::optional<std::string>& size) {
    if (!size) {
        return false;
    }
    const std::optional<std::int64_t> scaled = LeadingNumberScaled(*size, 4);
    // Too large to hold is still a size above zero.
    return !scaled || *scaled > 0;
}

// Code points that must not reach a control: controls, line and paragraph separators,
// Unicode's default-ignorable code points (zero-width and bidirectional formatting among
// them, and fillers and tags that show as nothing) and the interlinear annotation marks.
bool IsHiddenOrControl(char32_t cp) {
    struct Range {
        char32_t first;
        char32_t last;
    };
    static constexpr Range kHidden[] = {
        {0x0000, 0x001F},   {0x007F, 0x009F},   {0x00AD, 0x00AD},   {0x034F, 0x034F},
        {0x061C, 0x061C},   {0x115F, 0x1160},   {0x17B4, 0x17B5},   {0x180B, 0x180F},
        {0x200B, 0x200F},   {0x2028, 0x202E},   {0x2060, 0x206F},   {0x3164, 0x3164},
        {0xFE00, 0xFE0F},   {0xFEFF, 0xFEFF},   {0xFFA0, 0xFFA0},   {0xFFF0, 0xFFFB},
        {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0000, 0xE0FFF},
    };
    return std::any_of(std::begin(kHidden), std::end(kHidden),
                       [cp](const Range& r) { return cp >= r.first && cp <= r.last; });
}

}  // namespace

std::string CleanModel(const std::string& model) {
    std::string cleaned = AsciiLower(model);
    RemoveAll(cleaned, "scsi disk device");
    return AsciiUpper(cleaned);
}

std::string SanitizeForDisplay(const std::string& text) {
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead < 0x80           ? 1
                              : (lead >> 5) == 0x6  ? 2
                              : (lead >> 4) == 0xE  ? 3
                              : (lead >> 3) == 0x1E ? 4
                                                    : 0;
        char32_t cp = length == 1   ? lead
                      : length == 2 ? lead & 0x1Fu
                      : length == 3 ? lead & 0x0Fu
                                    : lead & 0x07u;
        bool valid = length > 0 && i + length <= text.size();
        for (size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            cp = (cp << 6) | (next & 0x3Fu);
        }
        // Overlong forms, surrogates and values past Unicode are malformed too.
        const char32_t minimum = length == 2   ? 0x80
                                 : length == 3 ? 0x800
                                 : length == 4 ? 0x10000
                                               : 0;
        valid = valid && cp >= minimum && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
        if (!valid) {
            out += '?';
            ++i;
            continue;
        }
        if (!IsHiddenOrControl(cp)) {
            out.append(text, i, length);
        }
        i += length;
    }
    return out;
}

void AddDriveRow(grid::GridModel& grid, const platform::DiskRecord& disk,
                 const platform::NumberMarks& marks) {
    if (!IsPositiveSize(disk.size) || !disk.model) {
        return;
    }
    const std::string model = CleanModel(*disk.model);
    if (model.find("CONFIG") != std::string::npos) {
        return;
    }
    grid.AddRow();
    const int row = grid.RowCount();
    grid.SetCellValue(row, kColId, static_cast<std::int64_t>(disk.index));
    grid.SetCellValue(row, kColModel, SanitizeForDisplay(model));
    // A size too large to format leaves this cell and the ones after it empty.
    const std::optional<std::string> capacity = FormatCapacity(*disk.size, marks);
    if (!capacity) {
        return;
    }
    grid.SetCellValue(row, kColSize, *capacity);
    grid.SetCellValue(row, kColPnp, SanitizeForDisplay(disk.pnpDeviceId));
    grid.SetCellValue(row, kColSizeBytes, *disk.size);
}

bool IsSystemDrive(const std::vector<std::string>& systemPhysicalDrives, std::int64_t n) {
    return std::any_of(systemPhysicalDrives.begin(), systemPhysicalDrives.end(),
                       [n](const std::string& id) {
                           const std::optional<std::uint32_t> number = DriveNumberOf(id);
                           return number && static_cast<std::int64_t>(*number) == n;
                       });
}

void MarkSystemDrive(grid::GridModel& grid, int row) {
    for (int col = 1; col <= grid.ColCount(); ++col) {
        grid.SetCellBackColor(row, col, kSystemDriveBackColor);
        grid.SetCellForeColor(row, col, kSystemDriveForeColor);
    }
}

ListedDrives ListPhysicalDrives(grid::GridModel& grid, platform::DiskCatalog& catalog,
                                const std::vector<std::string>& systemPhysicalDrives,
                                const platform::NumberMarks& marks) {
    grid.SetRowCount(0);
    ListedDrives listed;
    const auto disks = catalog.Disks();
    if (!disks) {
        return listed;
    }
    for (const platform::DiskRecord& disk : *disks) {
        if (!disk.mediaType || !IsPositiveSize(disk.size)) {
            continue;
        }
        const int rowsBefore = grid.RowCount();
        AddDriveRow(grid, disk, marks);
        if (grid.RowCount() == rowsBefore) {
            continue;
        }
        listed[disk.index] = {disk.identity,
                              disk.length.value_or(LeadingWholeNumber(*disk.size).value_or(0))};
        if (IsSystemDrive(systemPhysicalDrives, disk.index)) {
            MarkSystemDrive(grid, grid.RowCount());
        }
    }
    return listed;
}

}  // namespace velmaris::discovery
