// What switching pages leaves behind: every switch builds a page afresh and discards the old one, so the
// heap after hundreds of switches must be what it was after the first few.
#include <malloc.h>

#include <QComboBox>
#include <QThreadPool>
#include <cstddef>

#include "AppHarness.h"

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's own count of the bytes allocated and not freed (GCC installs no header for it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace quorvel {

namespace {

// Bytes the program holds on the heap now. The sanitizer's allocator keeps its own count; glibc's arenas
// then hold nothing of ours.
double heapInUse() {
#if defined(__SANITIZE_ADDRESS__)
    return static_cast<double>(__sanitizer_get_current_allocated_bytes());
#else
    return static_cast<double>(mallinfo2().uordblks);
#endif
}

// Lets the device listings the menu started on the pool finish and hand their results over.
bool workersDone() {
    const bool done = waitUntil([] { return QThreadPool::globalInstance()->activeThreadCount() == 0; });
    AppTest::settle();
    return done;
}

}  // namespace

// The round a user makes again and again: Player, Measure with its interface menu opened and closed, and
// back. A page, a connection or a cache entry kept per switch adds up over a session; the first rounds
// fill what is filled once (fonts, icons, the style's pictures of each kind of control).
TEST_F(AppTest, HundredsOfPageSwitchesLeaveTheHeapAsItWasAfterTheFirstFifty) {
    open();
    const auto round = [&] {
        view->setTool(QuorvelTool::measure);
        settle();
        auto* menu = view->currentPage()->findChild<QComboBox*>(QStringLiteral("interfaces"));
        ASSERT_NE(menu, nullptr);
        menu->showPopup();
        settle();
        menu->hidePopup();
        view->setTool(QuorvelTool::player);
        settle();
    };
    for (int i = 0; i < 50; ++i) ASSERT_NO_FATAL_FAILURE(round());
    ASSERT_TRUE(workersDone());
    const double before = heapInUse();
    constexpr int rounds = 450;
    for (int i = 0; i < rounds; ++i) ASSERT_NO_FATAL_FAILURE(round());
    ASSERT_TRUE(workersDone());
    const double grown = heapInUse() - before;
    // 900 pages made and discarded; a page that kept 80 bytes would be found.
    EXPECT_LT(grown, 64 * 1024) << "the heap grew by " << grown / rounds << " bytes a round";
}

}  // namespace quorvel
