// The live settings shared by the dialog's thread and the frame thread.
#include "core/settings_store.h"
#include "core/settings_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace horavel {
namespace {

TEST(SettingsStore, ConcurrentEditsAndCopiesNeverTear)
{
    // The dialog thread rewrites the texts while the frame thread copies the
    // record: every copy must be one whole state or the other.
    SettingsStore store;
    LoadTableDefaults(store);
    const std::string a(200, 'a');
    const std::string b(3000, 'b');
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i)
            store.EditLive([&](SettingsRecord& r) {
                r.FontName = (i & 1) ? a : b;
                r.Format = r.FontName;
                r.TextOpacity = i & 1;
            });
        done = true;
    });
    int torn = 0;
    int copies = 0;
    while (!done || copies == 0) {
        const SettingsRecord copy = store.Live();
        const bool isA = copy.FontName == a && copy.Format == a && copy.TextOpacity == 1;
        const bool isB = copy.FontName == b && copy.Format == b && copy.TextOpacity == 0;
        const bool isStart = copy == TableDefaults();
        torn += !(isA || isB || isStart);
        ++copies;
    }
    writer.join();
    EXPECT_EQ(torn, 0) << "of " << copies;
}

} // namespace
} // namespace horavel
