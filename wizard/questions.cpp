#include "wizard/questions.h"

namespace dlscope::wizard {

std::string promptText(const Prompt &prompt)
{
    std::string text;
    for (std::string_view line : prompt.lines) {
        if (line.empty())
            break;
        if (!text.empty())
            text += "\r\n";
        text += line;
    }
    return text;
}

} // namespace dlscope::wizard
