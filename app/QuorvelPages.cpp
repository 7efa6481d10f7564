// The pages of the workspace: which screen each tool shows and what it receives, and the Tools hub.
#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/QuorvelView.h"
#include "kit/QVCard.h"
#include "kit/QVFormat.h"
#include "kit/QVIcons.h"
#include "kit/QVKeyboard.h"
#include "kit/QVPage.h"
#include "kit/QVStyle.h"
#include "screens/AlignView.h"
#include "screens/AnalyzerView.h"
#include "screens/ArraySetupView.h"
#include "screens/ChannelChecksView.h"
#include "screens/ReferencePlayerView.h"
#include "screens/SignalLabView.h"

namespace quorvel {

namespace {

// A hub link: the whole card is the button. The card is made in the link (see setCard()).
class CardLink : public QAbstractButton {
public:
    explicit CardLink(QWidget* parent) : QAbstractButton(parent) {
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
        setProperty(QVKeyboard::kFocusRadius, QVCard::kRadius);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
    }

    void setCard(QWidget* card) { layout()->addWidget(card); }

    QSize sizeHint() const override { return layout()->sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override {
        if (!isDown()) return;
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), QVCard::kRadius, QVCard::kRadius);
        p.fillPath(shape, QColor::fromRgbF(1, 1, 1, 0.05f));
    }
};

// A screen pushed from the hub, under a bar with the way back and the screen's title: a child of `hub`,
// with the screen made in it by `makeScreen`.
QWidget* pushedScreen(QWidget* hub, const QString& title, const std::function<QWidget*(QWidget*)>& makeScreen,
                      const std::function<void()>& back) {
    auto* page = new QWidget(hub);
    page->setAutoFillBackground(true);
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* bar = new QWidget;
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(12, 8, 12, 8);
    auto* backButton = new QToolButton;
    backButton->setObjectName(QStringLiteral("hubBack"));
    backButton->setText(qvLiteral(QStringLiteral("\u2039 Tools")));
    backButton->setAccessibleName(QStringLiteral("Back to Tools"));
    backButton->setAutoRaise(true);
    backButton->setCursor(Qt::PointingHandCursor);
    QVStyle::setText(backButton, QVText::Body, QVStyle::accent());
    QObject::connect(backButton, &QToolButton::clicked, page, back);
    auto* heading = new QLabel(title);
    heading->setObjectName(QStringLiteral("hubTitle"));
    heading->setAlignment(Qt::AlignCenter);
    QVStyle::setText(heading, QVText::Headline);
    row->addWidget(backButton, 1, Qt::AlignLeft);
    row->addWidget(heading, 0, Qt::AlignCenter);
    row->addStretch(1);
    column->addWidget(bar);
    column->addWidget(makeScreen(page), 1);
    return page;
}

}  // namespace

// Each tool's screen, with what it receives. A screen is built afresh every time its page is shown, and
// it never creates model objects of its own kinds: it works on the view's. View state that a screen may
// change reaches it as a binding (signalBinding(), interfaceModeBinding(), importingBinding()) or a
// callback (play(), setTool()).
QWidget* QuorvelView::screen(QuorvelTool tool, QWidget* parent) {
    switch (tool) {
        case QuorvelTool::player:
            return new ReferencePlayerView(
                *library_, *audio_, *music_, importingBinding(),
                [this](const ReferenceTrack& track) { play(track); }, parent);
        case QuorvelTool::signals_:
            return new SignalLabView(signalBinding(), interfaceModeBinding(), *audio_, *routed_, *voice_,
                                     *analyzer_, parent);
        case QuorvelTool::measure:
            return new AnalyzerView(*analyzer_, parent);
        case QuorvelTool::checks:
            return new ChannelChecksView(*audio_, *routed_, *voice_, *analyzer_, parent);
        case QuorvelTool::align:
            return new AlignView(
                *analyzer_, *measurements_, [this] { setTool(QuorvelTool::measure); }, parent);
        case QuorvelTool::arrays:
            return new ArraySetupView(parent);
        case QuorvelTool::tools:
            return toolsPage(parent);
    }
    return nullptr;  // every tool is handled above
}

QWidget* QuorvelView::page(QuorvelTool tool, QWidget* parent) {
    return tool == QuorvelTool::tools ? toolsPage(parent) : screen(tool, parent);
}

QWidget* QuorvelView::toolCard(const QString& title, const QString& detail, const QString& icon,
                               QWidget* parent) {
    auto* card = new QVCard({}, nullptr, parent);
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 8, 0, 8);
    row->setSpacing(16);
    QLabel* symbol = QVIcons::label(icon, 26, QVStyle::accent(), card);
    symbol->setFixedWidth(38);
    symbol->setAlignment(Qt::AlignCenter);
    row->addWidget(symbol);
    auto* lines = new QVBoxLayout;
    lines->setSpacing(4);
    auto* name = new QLabel(title, card);
    QVStyle::setText(name, QVText::Headline);
    auto* sub = new QLabel(detail, card);
    QVStyle::setText(sub, QVText::Caption, QVStyle::secondary());
    lines->addWidget(name);
    lines->addWidget(sub);
    row->addLayout(lines);
    row->addStretch(1);
    row->addWidget(QVIcons::label(QStringLiteral("chevron.right"), 14, QVStyle::secondary(), card));
    card->addLayout(row);
    return card;
}

QWidget* QuorvelView::toolsPage(QWidget* parent) {
    auto* hub = new QStackedWidget(parent);
    hub->setObjectName(QStringLiteral("toolsHub"));
    auto* root = new QVPage(QStringLiteral("Tools"), QStringLiteral("Check, align, and tune your system"),
                            nullptr, hub);
    hub->addWidget(root);

    struct Link {
        QuorvelTool tool;
        const char* detail;
    };
    const Link links[] = {
        {QuorvelTool::checks, "Left / right \u00b7 spoken IDs \u00b7 sync"},
        {QuorvelTool::align, "Speaker delay \u00b7 main + sub"},
        {QuorvelTool::arrays, "End-fire \u00b7 cardioid"},
    };
    for (const Link& link : links) {
        const QString title = QuorvelTools::title(link.tool);
        // Made in place: a finished card moved into the page would be styled all over again.
        auto* button = new CardLink(root->column());
        button->setCard(
            toolCard(title, QString::fromUtf8(link.detail), QuorvelTools::icon(link.tool), button));
        button->setObjectName(QStringLiteral("hubLink-") + QuorvelTools::rawValue(link.tool));
        button->setAccessibleName(title);
        const QuorvelTool tool = link.tool;
        connect(button, &QAbstractButton::clicked, hub, [this, hub, root, tool] {
            // One level deep: the pushed screen replaces any earlier one and goes when the user goes back.
            QWidget* pushed = pushedScreen(
                hub, QuorvelTools::title(tool), [this, tool](QWidget* page) { return screen(tool, page); },
                [hub, root] {
                    QWidget* top = hub->currentWidget();
                    hub->setCurrentWidget(root);
                    if (top != root) {
                        hub->removeWidget(top);
                        top->deleteLater();
                    }
                });
            pushed->setObjectName(QStringLiteral("hubPushed"));
            pushed->setProperty("quorvelTool", QuorvelTools::rawValue(tool));
            hub->addWidget(pushed);
            hub->setCurrentWidget(pushed);
        });
        root->add(button);
    }
    return hub;
}

}  // namespace quorvel
