#pragma once
// Helpers shared by the screen tests: the workspace look and pictures for review, the texts a screen
// shows, and a virtual rig the test thread drives (playing both the audio thread and the main thread).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <memory>

#include "QtPrinting.h"
#include "TestSignals.h"
#include "engine/AudioController.h"
#include "engine/MicAnalyzer.h"
#include "engine/RoutedSignal.h"
#include "engine/VoiceRenderer.h"
#include "kit/QVBadge.h"
#include "kit/QVNumber.h"
#include "platform/VirtualAudioSystem.h"
#include "screens/ScreenControls.h"

namespace quorvel {

namespace ScreenTesting {

// Applies the workspace style once per process.
void useWorkspaceStyle();
// Lays `widget` out at `size`, shows it offscreen and saves it as `name` in the test output folder.
QImage savePng(QWidget* widget, const QString& name, QSize size);
// Saves `widget` as it is now as `name` in the test output folder.
void saveGrab(QWidget* widget, const QString& name);
// The visible texts of the labels named `objectName` under `root`, in creation order.
QStringList texts(const QWidget* root, const QString& objectName);
// True when a visible label under `root` shows exactly `text`.
bool showsText(const QWidget* root, const QString& text);
// Runs queued events (deferred deletions included).
void settle();
// Runs queued events until a change deep in a page has reached the page's size and scroll range.
void settleLayout();
// Where a user points at `widget`, in global coordinates: the box of a check box, else the middle.
QPoint pointOn(const QWidget* widget);
// A user's click at `global` on whatever of `window`'s widgets lies there; then the queued events run.
void clickAt(QWidget* window, QPoint global);
// A user's click on `control` (see pointOn), which must still be there afterwards, under the pointer.
void clickInPlace(QWidget* window, const QWidget* control);
// Scrolls `page` to its end, as a user does before working on its last controls.
void scrollToEnd(QAbstractScrollArea* page);
// The stepper under `root` whose text contains `text`.
Stepper* stepper(const QWidget* root, const QString& text);
// Types `text` into the number field under `root` titled `title` (or into `root` itself when it is one)
// and commits it with Return, as the user does.
void type(QWidget* root, const QString& title, const QString& text);
using TestSignals::noise;

}  // namespace ScreenTesting

// The four sound models of the window on one virtual "Interface" with four inputs and four outputs, each
// output looped back to the input of the same number, and for the analyser the reference (noise) on input 2
// and the microphone hearing it 480 frames (10 ms) later on input 1. The device's clock moves only when a
// test pumps it; the test thread plays both the audio thread and the main thread.
struct SoundModels {
    static constexpr double rate = 48000;
    static constexpr std::int64_t period = 1024;

    SoundModels();
    ~SoundModels();
    // Waits until neither the player nor the routed generator prepares; false when that never happens.
    [[nodiscard]] bool settle();
    // Moves the device on by one period and runs the player's tick, as its timer would.
    void step();
    // Lets background analyses finish and runs the queued main-thread work.
    static void events();
    // Pumps tap blocks until the analyser has a spectrum (and, in dual mode, a delay); false after 40.
    [[nodiscard]] bool measure();

    std::shared_ptr<VirtualAudioSystem> system;
    std::unique_ptr<AudioController> audio;
    std::unique_ptr<RoutedSignal> routed;
    std::unique_ptr<VoiceRenderer> voice;
    std::unique_ptr<MicAnalyzer> analyzer;
};

// A page on the sound models, and its parts found by object name.
template <typename Page>
struct PageTest : ::testing::Test {
    PageTest() { ScreenTesting::useWorkspaceStyle(); }
    template <typename T = QWidget>
    T* child(const char* name) const {
        T* w = view->template findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    bool shown(const char* name) const { return child(name)->isVisibleTo(view.get()); }
    // The badge's title, empty while it is hidden.
    QString badge(const char* name) const {
        auto* b = child<QVBadge>(name);
        return b->isVisibleTo(view.get()) ? b->title() : QString();
    }
    QAbstractButton* segment(const char* picker, const char* label) const {
        return child<SegmentedPicker>(picker)->segment(QString::fromUtf8(label));
    }
    void show(QSize size) {
        view->resize(size);
        view->show();
        SoundModels::events();
    }

    SoundModels m;
    std::unique_ptr<Page> view;
};

}  // namespace quorvel
