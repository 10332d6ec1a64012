// A rewrite in place stopped at any byte of any of its steps leaves a file
// that reads as the old text or the new one.
#include "settings/in_place_rewrite.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace horavel {
namespace {

// What loading a file gives.
std::string Read(const std::string& file)
{
    const std::optional<RecoveredText> recovered = RecoverInterruptedRewrite(file);
    return recovered ? recovered->text : file;
}

TEST(InPlaceRewrite, EveryMomentReadsAsTheOldTextOrTheNew)
{
    const std::string shortText = "[COMMON]\r\nTextOpacity=61\r\n";
    const std::string longText = "[DIALOG]\r\nDlgWndPosX=-100\r\nDlgWndPosY=-100\r\n[COMMON]\r\nFormat=" +
                                 std::string(300, 'H') + "\r\n";
    const std::vector<std::pair<std::string, std::string>> rewrites = {
        {shortText, longText}, {longText, shortText}, {"", shortText}, {shortText, shortText + "x"},
        {longText, longText}, {shortText, ""}};
    for (const auto& [old, text] : rewrites) {
        SCOPED_TRACE(std::to_string(old.size()) + " -> " + std::to_string(text.size()) + " bytes");
        const InPlaceRewrite plan = PlanInPlaceRewrite(old.size(), text);
        EXPECT_EQ(plan.copyOffset, old.size());
        EXPECT_EQ(plan.finalSize, text.size());
        int wrong = 0;
        // Step 1, the copy added behind the old text: stopped after any byte.
        for (size_t k = 0; k <= plan.copy.size(); ++k)
            wrong += Read(old + plan.copy.substr(0, k)) != (k == plan.copy.size() ? text : old);
        // Step 2, the text written over the start.
        const std::string withCopy = old + plan.copy;
        for (size_t k = 0; k <= text.size(); ++k) {
            std::string file = withCopy;
            file.replace(0, k, text.substr(0, k));
            wrong += Read(file) != text;
        }
        EXPECT_EQ(wrong, 0);
        // Step 3, the cut: the new text alone, an ordinary profile.
        EXPECT_FALSE(RecoverInterruptedRewrite(text));
        EXPECT_TRUE(RecoverInterruptedRewrite(withCopy)->repair);
    }
}

TEST(InPlaceRewrite, ACopyThatDidNotLandWholeIsNotTaken)
{
    const std::string old = "[COMMON]\r\nTextOpacity=61\r\n", text = "[COMMON]\r\nTextOpacity=62\r\n";
    const InPlaceRewrite plan = PlanInPlaceRewrite(old.size(), text);
    // The trailer landed, a byte of the copy before it did not (written out
    // of order by the system, then power lost): the old text.
    std::string file = old + plan.copy;
    file[file.size() - 40] = '\0';
    EXPECT_EQ(Read(file), old);
    EXPECT_FALSE(RecoverInterruptedRewrite(file)->repair);
    // A plain profile is read as it is.
    EXPECT_EQ(Read(old), old);
}

} // namespace
} // namespace horavel
