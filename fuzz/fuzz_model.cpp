// The model text a disk reports, cleaned and made safe to show.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>

#include "discovery/drive_list.h"
#include "display_text.h"
#include "fuzz_check.h"

namespace {

std::string NonAscii(const std::string& text) {
    std::string out;
    std::copy_if(text.begin(), text.end(), std::back_inserter(out),
                 [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velmaris;
    const std::string input(reinterpret_cast<const char*>(data), size);

    const std::string cleaned = discovery::CleanModel(input);
    FUZZ_CHECK(
        std::none_of(cleaned.begin(), cleaned.end(), [](char c) { return c >= 'a' && c <= 'z'; }));
    // Only ASCII is touched: UTF-8 in a model passes through intact.
    FUZZ_CHECK(NonAscii(cleaned) == NonAscii(input));

    for (const std::string& text : {input, cleaned}) {
        const std::string shown = discovery::SanitizeForDisplay(text);
        FUZZ_CHECK(fuzz::IsCleanDisplayText(shown));
        FUZZ_CHECK(shown.size() <= text.size());
        FUZZ_CHECK(discovery::SanitizeForDisplay(shown) == shown);
        // Text that is already safe is shown as it is.
        FUZZ_CHECK(!fuzz::IsCleanDisplayText(text) || shown == text);
    }
    return 0;
}
