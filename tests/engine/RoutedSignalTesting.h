#pragma once
// Helpers shared by the routed generator's tests.
#include <QTest>

#include "engine/RoutedSignal.h"

namespace quorvel {

namespace RoutedSignalTesting {

// Sets the whole routing; reference 0 sends no reference copy.
inline void route(RoutedSignal& routed, const QString& selection, int a, int b, int reference) {
    routed.setSelection(selection);
    routed.setChannelA(a);
    routed.setChannelB(b);
    routed.setReferenceOutput(reference);
    routed.setSendReference(reference != 0);
}

// Starts a play and waits until its preparation has ended; false when it never does.
[[nodiscard]] inline bool playAndWait(RoutedSignal& routed, const SignalSettings& settings) {
    routed.play(settings);
    return QTest::qWaitFor([&] { return !routed.busy(); }, 20000);
}

}  // namespace RoutedSignalTesting

}  // namespace quorvel
