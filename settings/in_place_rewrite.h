// A rewrite of a file in place (where it must keep its identity: its links,
// its mode, a folder that takes no new file) that a kill or a failed write at
// any moment cannot leave torn.
//
// The new text is first added behind the old one as a copy that can be
// recovered, and only then written over the file's start:
//
//   1. at the old size:   NUL fill | the text | trailer (its length and checksum)
//                         (the copy starts at max(old size + 1, text size), so
//                         step 2 never reaches it)
//   2. at 0:              the text
//   3. the file is cut to the text's size.
//
// Each step lands (is flushed) before the next begins. A file left between
// steps reads as one of the two texts: with a whole trailer at its end, the
// copy before it (the new text); otherwise, while step 1 was under way, what
// comes before its first NUL byte (the old text; a profile is text, it holds
// no NUL of its own).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace horavel {

struct InPlaceRewrite {
    uint64_t copyOffset = 0;  // where step 1 writes: the old size
    std::string copy;         // what it writes there
    uint64_t finalSize = 0;   // where step 3 cuts: the text's size
};

InPlaceRewrite PlanInPlaceRewrite(uint64_t oldSize, std::string_view text);

// The text a file left by an interrupted rewrite stands for, and whether the
// file should be written again (the new text over its start, then cut) to be
// whole; nullopt for a file that holds no NUL byte (no rewrite was under way).
struct RecoveredText {
    std::string text;
    bool repair = false;  // the copy was whole: the file is brought to it
};
std::optional<RecoveredText> RecoverInterruptedRewrite(std::string_view file);

} // namespace horavel
