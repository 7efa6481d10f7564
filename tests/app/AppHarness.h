#pragma once
// The workspace as a test sees it: the dark style, a virtual audio system installed before any model is
// made, and a root view shown at its smallest size on the offscreen platform.
#include <gtest/gtest.h>

#include <QString>
#include <functional>
#include <memory>

#include "QtPrinting.h"
#include "ToneFile.h"
#include "app/QuorvelView.h"
#include "platform/VirtualAudioSystem.h"

namespace quorvel {

class AppTest : public ::testing::Test {
public:
    void SetUp() override;
    void TearDown() override;
    // Creates and shows the view (840 × 680) once the audio system is in place.
    QuorvelView& open();
    // Lets queued work, deferred deletions and layouts run.
    static void settle();
    // Saves the whole window under the test output folder as `name`.png.
    void savePng(const QString& name);
    // The visible text of the transport bar's status line.
    QString transportStatus();

    std::shared_ptr<VirtualAudioSystem> audio;
    std::unique_ptr<QuorvelView> view;

private:
    std::shared_ptr<AudioSystem> previous_;
};

// Saves a picture of `widget` as `name`.png in the test output folder.
void savePicture(QWidget* widget, const QString& name);
// Runs the event loop until `done` holds or `seconds` have passed; returns whether it held.
bool waitUntil(const std::function<bool()>& done, double seconds = 20);

}  // namespace quorvel
