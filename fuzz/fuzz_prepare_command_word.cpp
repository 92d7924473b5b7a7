// The command-text check under each of the six window rules, on arbitrary
// bytes: a prepared word is either skipped (only behind a failed guard) or is
// exactly the text the command box would hold after the effects are played;
// every text written is binary and fits the box; messages are the program's own.

#include "core/command_text.h"
#include "fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace dlscope;
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    for (const CommandTextRule &rule : rules::All) {
        const PreparedCommand prepared = PrepareCommandWord(text, rule);
        std::string box(text);
        int writes = 0;
        for (const InputEffect &effect : prepared.effects) {
            if (const auto *set = std::get_if<SetCommandText>(&effect)) {
                box = set->text;
                ++writes;
                FUZZ_CHECK(isBinaryText(box));
                FUZZ_CHECK(box.size() <= static_cast<std::size_t>(rule.maxLength));
            } else {
                const std::string &message = std::get<ShowMessage>(effect).text;
                FUZZ_CHECK(message == kNotHexMessage || message == kWillNotWorkMessage || message == rule.guardMessage);
            }
        }
        FUZZ_CHECK(writes <= 1);
        if (prepared.word) {
            FUZZ_CHECK(*prepared.word == box);
            FUZZ_CHECK(!rule.guardLength || prepared.word->size() == static_cast<std::size_t>(*rule.guardLength));
        } else {
            FUZZ_CHECK(rule.guardLength.has_value());
        }
        // A binary text within the box's limit is never rewritten, but for padding.
        if (isBinaryText(text) && !rule.padBinaryTo)
            FUZZ_CHECK(writes == 0);
    }
    return 0;
}
