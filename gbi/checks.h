#pragma once

// Checks: rules that explain what is wrong with a display list, run over the
// state walker (state.h).
//
// Each rule is a row of data: an id ("sync-pipe"), a severity, the
// microcodes it applies to, whether it needs a frame walk, and the
// explanation a user reads. Its condition looks at one executed command and
// the state in effect before it. A finding names the entry it concerns
// (mostly the command that triggered it; for a block load whose dxt does not
// suit the tile that later samples it, the load), the rule, the severity of
// the case that fired (some rules have milder or harsher sub-cases), the
// explanation followed by specifics in parentheses, and, where it helps, an
// earlier entry the problem relates to ("the draw at 0x0128").
//
// Rules stay silent where a value they need is unknown (for example in a
// list checked on its own, whose caller set the modes). Frame-only rules
// (never-set values) fire only in frame walks. Each (rule, entry) pair is
// reported once, however often the entry executes; a missing sync is
// reported at the first command that needed it, not at every one after it;
// conditions on the modes are evaluated at the first triangle after anything
// they depend on changed, not at every triangle.
//
// Use from a command-line program (entries: the raw words as read, unfolded):
//   CheckOptions options;                    // options.walk: base address, segments, roots
//   options.disabled = {"sync-redundant"};   // switch rules off by id
//   CheckReport report = checkList(ucode, entries, options);
//   for (const Finding& f : report.findings) // ordered by entry
//       ... f.entry, severityName(f.severity), f.message, ruleId(f) ...
//   countOf(report, Severity::Error) ... for the summary.
// A printer that folds several entries into one macro shows the findings of
// all the entries it covers after that macro (Finding::entry is the entry
// index; its line comes from the reader's RawCommand of that entry).
// From a window: pass a StateIndex to get per-entry state from the same walk,
// and list report.findings.

#include "gbi/parser.h" // Severity and severityName(), shared with the assembler's messages
#include "gbi/state.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dlscope::gbi {

struct RuleInfo {
    std::string_view id;
    Severity severity;       // the rule's main severity
    std::uint8_t ucodes;     // ucodeBit() of each microcode it applies to
    bool frameOnly;          // fires only in frame walks
    std::string_view message;
};

// Every rule, in a fixed order (indices are stable within a build).
std::span<const RuleInfo> checkRules();
std::optional<std::size_t> findRule(std::string_view id);

struct Finding {
    std::size_t entry = 0;              // the entry concerned (byte offset 8 * entry)
    std::size_t rule = 0;               // index into checkRules()
    Severity severity = Severity::Note;
    std::string message;                // explanation, then specifics in parentheses
    std::optional<std::size_t> related; // an earlier entry the finding refers to
    std::string command;                // macro text of the entry, when asked for
};

std::string_view ruleId(const Finding& finding);

struct CheckOptions {
    WalkOptions walk;
    std::vector<std::string> disabled;  // rule ids switched off
    Severity minimum = Severity::Note;  // findings below this are not reported
    bool commandText = false;           // fill Finding::command
    std::size_t maxFindings = 100000;   // findings kept; the rest are only counted
};

struct CheckReport {
    std::vector<Finding> findings;        // by entry; at one entry errors first
    std::array<std::size_t, 3> counts{};  // per severity (index by Severity), dropped ones included
    std::size_t dropped = 0;              // findings beyond maxFindings
    WalkSummary walk;
    std::vector<std::string> unknownRules; // ids in `disabled` that name no rule
};

inline std::size_t countOf(const CheckReport& report, Severity s) { return report.counts[static_cast<std::size_t>(s)]; }

// Walks the list and runs every enabled rule. When `index` is given it is
// filled from the same walk (see StateIndex).
CheckReport checkList(Ucode ucode, std::span<const Words> entries, const CheckOptions& options = {},
                      StateIndex* index = nullptr);

// "0x0128" (byte offset, at least four digits) or, with a base address,
// "0x80123450".
std::string entryAddress(std::size_t entry, std::optional<std::uint32_t> base);

} // namespace dlscope::gbi
