// The Signals page on the real models over the virtual device: what each control stops, what it
// changes, and when the page counts as playing.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "QVAction.h"
#include "QVBadge.h"
#include "QVNumber.h"
#include "ScreenControls.h"
#include "SignalLabView.h"
#include "ScreenTesting.h"
#include "SoundModels.h"

namespace {

class SignalLab : public ::testing::Test {
protected:
    void SetUp() override {
        ScreenTesting::useWorkspaceStyle();
        build();
    }

    void build() {
        view = std::make_unique<SignalLabView>(QVBinding<SignalSettings>::of(settings), QVBinding<bool>::of(interfaceMode),
                                               *m.audio, *m.routed, *m.voice, *m.analyzer);
    }
    template <typename T = QWidget>
    T* child(const char* name) const {
        T* w = view->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QAbstractButton* segment(const char* picker, const char* label) const {
        return child<SegmentedPicker>(picker)->segment(QString::fromUtf8(label));
    }
    QPushButton* button(const char* name, const QString& title) const {
        for (QPushButton* b : view->findChildren<QPushButton*>(QString::fromLatin1(name)))
            if (b->text() == title) return b;
        ADD_FAILURE() << title.toStdString();
        return nullptr;
    }
    void choosePreset(const QString& name) const {
        for (QAction* item : child<QToolButton>("presets")->menu()->actions())
            if (item->text() == name) return item->trigger();
        ADD_FAILURE() << name.toStdString();
    }
    // Starts whatever the play button starts and waits for the path to be ready.
    void pressPlay() {
        auto* play = child<QVAction>("play");
        ASSERT_TRUE(play->isEnabled());
        play->click();
        ASSERT_TRUE(m.settle());
    }
    bool playing() const { return m.audio->playing() || m.routed->isPlaying(); }
    QStringList typeItems() const {
        QStringList items;
        auto* type = child<QComboBox>("type");
        for (int i = 0; i < type->count(); ++i) items << type->itemText(i);
        return items;
    }
    QString badge() const { return child<QVBadge>("state")->title(); }
    QString playTitle() const { return child<QVAction>("play")->title(); }
    bool shown(const char* name) const { return child(name)->isVisibleTo(view.get()); }

    SoundModels m;
    SignalSettings settings;
    bool interfaceMode = false;
    std::unique_ptr<SignalLabView> view;
};

}  // namespace

TEST_F(SignalLab, FamiliesPickAKindOfTheirOwnAndStopBothPaths) {
    EXPECT_EQ(view->family(), "Noise");
    EXPECT_EQ(typeItems(), (QStringList{"Pink noise", "White noise", "Brown noise"}));
    EXPECT_EQ(child<QComboBox>("type")->currentText(), "Pink noise");

    // Both paths sound (the routed one started elsewhere); building the page afresh stops neither.
    pressPlay();
    m.routed->play(SignalSettings{});
    ASSERT_TRUE(m.settle());
    ASSERT_TRUE(m.audio->playing() && m.routed->isPlaying());
    build();
    EXPECT_TRUE(m.audio->playing() && m.routed->isPlaying());

    segment("family", "Tone")->click();
    EXPECT_EQ(settings.kind, SignalKind::sine);
    EXPECT_FALSE(m.audio->playing());
    EXPECT_FALSE(m.routed->isPlaying());
    EXPECT_EQ(typeItems(), (QStringList{"Sine", "Dual tone", "Pulsed tone"}));
    EXPECT_EQ(child<QLabel>("kindTitle")->text(), "Sine");
    EXPECT_EQ(playTitle(), "Play sine");
    EXPECT_TRUE(shown("Frequency"));
    EXPECT_FALSE(shown("Second tone"));

    segment("family", "Sweep")->click();
    EXPECT_EQ(settings.kind, SignalKind::logSweep);
    EXPECT_TRUE(shown("Duration"));
    EXPECT_FALSE(shown("Cycle")) << "a sweep's length is its Duration";

    // The Type choice changes the kind and stops what plays.
    segment("family", "Noise")->click();
    pressPlay();
    auto* type = child<QComboBox>("type");
    type->setCurrentIndex(1);
    emit type->activated(1);
    EXPECT_EQ(settings.kind, SignalKind::white);
    EXPECT_FALSE(playing());
    EXPECT_EQ(playTitle(), "Play white noise");

    // A page built while the shared kind is a tone starts at Noise with no noise chosen; choosing Tone then
    // keeps the tone that was there.
    settings.kind = SignalKind::dual;
    build();
    EXPECT_EQ(view->family(), "Noise");
    EXPECT_EQ(child<QComboBox>("type")->currentIndex(), -1);
    segment("family", "Tone")->click();
    EXPECT_EQ(settings.kind, SignalKind::dual);
    EXPECT_EQ(child<QComboBox>("type")->currentText(), "Dual tone");
}

TEST_F(SignalLab, PresetsAndBandsStopWhatPlaysAndStartNothing) {
    pressPlay();
    ASSERT_TRUE(m.audio->playing());
    choosePreset(QStringLiteral("Dual tone \u00B7 1 kHz / 1.2 kHz"));
    EXPECT_FALSE(m.audio->playing());
    ASSERT_TRUE(m.settle());
    EXPECT_FALSE(playing()) << "a preset never starts sound";
    EXPECT_EQ(view->family(), "Tone");
    EXPECT_EQ(settings.kind, SignalKind::dual);
    EXPECT_EQ(settings.frequency, 1000);
    EXPECT_EQ(settings.frequency2, 1200);
    EXPECT_TRUE(shown("Second tone"));
    EXPECT_TRUE(shown("balance"));

    // The balance slider edits the setting only.
    child<QSlider>("balance")->setValue(250);
    EXPECT_DOUBLE_EQ(settings.balance, 0.25);

    choosePreset(QStringLiteral("Full-range pink noise"));
    EXPECT_EQ(view->family(), "Noise");
    pressPlay();
    ASSERT_TRUE(m.audio->playing());
    child<Disclosure>("filtersTiming")->setExpanded(true);
    button("band", "Speech")->click();
    EXPECT_FALSE(m.audio->playing());
    EXPECT_EQ(settings.hp, 150);
    EXPECT_EQ(settings.lp, 8000);
    EXPECT_TRUE(settings.filtered);
    EXPECT_TRUE(child<QCheckBox>("filtered")->isChecked());
    EXPECT_TRUE(shown("High-pass"));

    // Number fields and quick frequencies edit the settings while the signal keeps playing as started.
    segment("family", "Tone")->click();
    pressPlay();
    button("quickFrequency", "63")->click();
    EXPECT_EQ(settings.frequency, 63);
    EXPECT_TRUE(m.audio->playing());
    auto* cycle = child<QVNumber>("Cycle")->field();
    cycle->setFocus();
    cycle->selectAll();
    QTest::keyClicks(cycle, "4");
    QTest::keyClick(cycle, Qt::Key_Return);
    EXPECT_EQ(settings.seconds, 4);
    EXPECT_TRUE(m.audio->playing());
}

TEST_F(SignalLab, PlayButtonFollowsTheSelectedPath) {
    auto* play = child<QVAction>("play");
    EXPECT_EQ(badge(), "Ready");
    EXPECT_EQ(playTitle(), "Play pink noise");

    // Stereo: disabled while the player prepares, then "Stop signal".
    play->click();
    EXPECT_TRUE(m.audio->busy());
    EXPECT_FALSE(play->isEnabled());
    ASSERT_TRUE(m.settle());
    EXPECT_TRUE(play->isEnabled());
    EXPECT_EQ(m.audio->status(), "Pink noise");
    EXPECT_EQ(badge(), "Playing");
    EXPECT_EQ(playTitle(), "Stop signal");
    EXPECT_EQ(play->iconName(), "stop.fill");
    play->click();
    EXPECT_FALSE(m.audio->playing());
    EXPECT_EQ(badge(), "Ready");

    // The path switch stops both paths.
    pressPlay();
    segment("output", "Interface")->click();
    EXPECT_TRUE(interfaceMode);
    EXPECT_FALSE(m.audio->playing());
    EXPECT_TRUE(shown("speakers"));
    EXPECT_FALSE(shown("channel"));

    // Interface: stereo playback started elsewhere does not count.
    m.audio->signal(SignalSettings{});
    ASSERT_TRUE(m.settle());
    ASSERT_TRUE(m.audio->playing());
    EXPECT_EQ(badge(), "Ready");
    EXPECT_FALSE(shown("routedStatus")) << "the idle status is hidden";

    play->click();
    EXPECT_FALSE(m.audio->playing()) << "the stereo path stops before the routed one starts";
    EXPECT_TRUE(m.routed->busy());
    EXPECT_FALSE(play->isEnabled());
    ASSERT_TRUE(m.settle());
    ASSERT_TRUE(m.routed->isPlaying()) << m.routed->status().toStdString();
    EXPECT_EQ(badge(), "Playing");
    EXPECT_TRUE(shown("routedStatus"));
    EXPECT_EQ(child<QLabel>("routedStatus")->text(), "Pink noise \u2192 outputs 1");
    play->click();
    EXPECT_FALSE(m.routed->isPlaying());

    // A refusal shows in the status line.
    m.routed->setChannelA(9);
    play->click();
    ASSERT_TRUE(m.settle());
    EXPECT_FALSE(m.routed->isPlaying());
    EXPECT_EQ(child<QLabel>("routedStatus")->text(), "Choose distinct, available speaker outputs");
}

TEST_F(SignalLab, RoutingControlsEditTheModelsAndFollowThem) {
    segment("output", "Interface")->click();
    child<Disclosure>("channelRouting")->setExpanded(true);
    auto* a = child<Stepper>("channelA");
    EXPECT_EQ(a->text(), "A \u00B7 output 1");
    a->minusButton()->click();
    EXPECT_EQ(m.routed->channelA(), 1) << "stops at 1";
    a->plusButton()->click();
    EXPECT_EQ(m.routed->channelA(), 2);
    m.routed->setChannelB(64);
    EXPECT_EQ(child<Stepper>("channelB")->text(), "B \u00B7 output 64");
    EXPECT_FALSE(child<Stepper>("channelB")->plusButton()->isEnabled()) << "stops at 64";

    segment("speakers", "A + B")->click();
    EXPECT_EQ(m.routed->selection(), "Both");
    m.routed->setSelection("B");
    EXPECT_TRUE(segment("speakers", "B")->isChecked());

    // The reference output and the dual-tone hint show only with the loopback reference on.
    EXPECT_FALSE(shown("referenceOutput"));
    child<QCheckBox>("sendReference")->click();
    EXPECT_TRUE(m.routed->sendReference());
    EXPECT_TRUE(shown("referenceOutput"));
    EXPECT_EQ(child<Stepper>("referenceOutput")->text(), "Reference \u00B7 output 3");
    EXPECT_FALSE(shown("dualHint"));
    choosePreset(QStringLiteral("Dual tone \u00B7 1 kHz / 1.2 kHz"));
    EXPECT_TRUE(shown("dualHint"));
    m.routed->setSendReference(false);
    EXPECT_FALSE(shown("dualHint"));

    // Stereo: the channel choice pans at once and stops nothing.
    segment("output", "Stereo")->click();
    pressPlay();
    segment("channel", "R")->click();
    EXPECT_EQ(m.audio->route(), "Right");
    EXPECT_TRUE(m.audio->playing());
    m.audio->setRoute("Left");
    EXPECT_TRUE(segment("channel", "L")->isChecked());
}

TEST_F(SignalLab, Screenshots) {
    child<Disclosure>("filtersTiming")->setExpanded(true);
    const QImage stereo = ScreenTesting::savePng(view.get(), "signals-stereo.png", {820, 1000});
    EXPECT_FALSE(stereo.isNull());

    segment("output", "Interface")->click();
    child<Disclosure>("channelRouting")->setExpanded(true);
    m.routed->setSendReference(true);
    choosePreset(QStringLiteral("Dual tone \u00B7 1 kHz / 1.2 kHz"));
    child<Disclosure>("filtersTiming")->setExpanded(true);
    const QImage routed = ScreenTesting::savePng(view.get(), "signals-interface.png", {820, 1250});
    EXPECT_FALSE(routed.isNull());
}
