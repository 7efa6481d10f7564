#include "ScreenTesting.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QSettings>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QThreadPool>
#include <cstdlib>

#include "TestHome.h"
#include "engine/AudioHardware.h"
#include "engine/InterfacePicker.h"
#include "kit/QVStyle.h"

namespace quorvel {

namespace ScreenTesting {

void useWorkspaceStyle() {
    static bool applied = false;
    if (!applied) QVStyle::apply();
    applied = true;
}

QImage savePng(QWidget* widget, const QString& name, QSize size) {
    widget->resize(size);
    widget->show();
    settle();
    const QImage image = widget->grab().toImage();
    QDir().mkpath(QStringLiteral(QUORVEL_TEST_OUTPUT_DIR));
    EXPECT_TRUE(image.save(QStringLiteral(QUORVEL_TEST_OUTPUT_DIR "/") + name)) << name.toStdString();
    return image;
}

void saveGrab(QWidget* widget, const QString& name) {
    QDir().mkpath(QStringLiteral(QUORVEL_TEST_OUTPUT_DIR));
    EXPECT_TRUE(widget->grab().save(QStringLiteral(QUORVEL_TEST_OUTPUT_DIR "/") + name))
        << name.toStdString();
}

QStringList texts(const QWidget* root, const QString& objectName) {
    QStringList out;
    for (const QLabel* label : root->findChildren<QLabel*>(objectName))
        if (label->isVisibleTo(root->window())) out << label->text();
    return out;
}

bool showsText(const QWidget* root, const QString& text) {
    for (const QLabel* label : root->findChildren<QLabel*>())
        if (label->text() == text && label->isVisibleTo(root->window())) return true;
    return false;
}

void settle() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void settleLayout() {
    // Each pass runs what the last one posted: a change deep in a page reaches the page a layout at a time.
    for (int pass = 0; pass < 10; ++pass) settle();
}

QPoint pointOn(const QWidget* widget) {
    if (const auto* box = qobject_cast<const QCheckBox*>(widget)) {
        QStyleOptionButton option;
        option.initFrom(box);
        return box->mapToGlobal(
            box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box).center());
    }
    return widget->mapToGlobal(widget->rect().center());
}

void clickAt(QWidget* window, QPoint global) {
    QWidget* target = window->childAt(window->mapFromGlobal(global));
    if (!target) {
        ADD_FAILURE() << "nothing at " << global.x() << "," << global.y();
        return;
    }
    QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFromGlobal(global));
    settleLayout();
}

void clickInPlace(QWidget* window, const QWidget* control) {
    const QPoint at = pointOn(control);
    clickAt(window, at);
    EXPECT_EQ(pointOn(control), at) << "moved under the pointer: " << control->objectName().toStdString();
}

void scrollToEnd(QAbstractScrollArea* page) {
    settleLayout();
    page->verticalScrollBar()->setValue(page->verticalScrollBar()->maximum());
    settleLayout();
    EXPECT_GT(page->verticalScrollBar()->value(), 0) << "the page is too short to scroll";
}

Stepper* stepper(const QWidget* root, const QString& text) {
    for (Stepper* s : root->findChildren<Stepper*>())
        if (s->text().contains(text)) return s;
    ADD_FAILURE() << "no stepper " << text.toStdString();
    return nullptr;
}

void type(QWidget* root, const QString& title, const QString& text) {
    QList<QVNumber*> numbers = root->findChildren<QVNumber*>();
    if (auto* self = qobject_cast<QVNumber*>(root)) numbers = {self};
    for (QVNumber* n : numbers)
        if (n->title() == title || n == root) {
            n->field()->setFocus();
            n->field()->selectAll();
            QTest::keyClicks(n->field(), text);
            QTest::keyClick(n->field(), Qt::Key_Return);
        }
}

}  // namespace ScreenTesting

SoundModels::SoundModels() {
    system = std::make_shared<VirtualAudioSystem>(
        std::vector<VirtualDevice>{{.name = "Interface", .inputChannels = 4, .outputChannels = 4}}, period);
    for (int k = 0; k < 4; ++k) system->connect("Interface", k, k, 0);
    system->setInputSignal("Interface", 1, ScreenTesting::noise);
    system->setInputSignal("Interface", 0, [](std::int64_t f) { return ScreenTesting::noise(f - 480); });
    AudioHardware::install(system);
    QSettings().remove(InterfacePicker::settingsKey);
    // A temporary folder of its own, so renders of other tests never count here.
    setenv("TMPDIR", TestHome::freshDir("tmp").c_str(), 1);
    audio = std::make_unique<AudioController>(
        AudioController::Setup{.clock = [s = system.get()] { return double(s->clock()) / rate; }});
    voice = std::make_unique<VoiceRenderer>();
    analyzer = std::make_unique<MicAnalyzer>();
    routed = std::make_unique<RoutedSignal>();
}

SoundModels::~SoundModels() {
    voice->cancel();
    routed->stop();
    analyzer->stop();
    audio->stop();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
}

bool SoundModels::settle() {
    return QTest::qWaitFor([this] { return !audio->busy() && !routed->busy(); }, 30000);
}

void SoundModels::step() {
    system->pump(period);
    audio->tick();
}

void SoundModels::events() {
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

bool SoundModels::measure() {
    const auto done = [&] {
        return !analyzer->spectrum().empty() && (!analyzer->dual() || analyzer->delayMS());
    };
    events();
    for (int i = 0; i < 40 && !done(); ++i) {
        system->pump(AudioEngine::tapBlockFrames);
        events();
    }
    return done();
}

}  // namespace quorvel
