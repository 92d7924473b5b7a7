#pragma once

// Kinds of modal message box the program asks, and their answers. Shared by
// the command-text rules, the wizard and the window layer that shows them.

namespace dlscope {

enum class MessageButtons { Ok, YesNo, YesNoCancel };

enum class MessageAnswer { Ok, Yes, No, Cancel };

} // namespace dlscope
