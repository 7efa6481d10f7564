// The workspace frame around the pages: the header bar, the tool sidebar, and the detail column that holds
// the selected tool's page with the transport bar pinned beneath it.
#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QShortcut>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/QuorvelView.h"
#include "app/TransportBar.h"
#include "kit/QVFormat.h"
#include "kit/QVIcons.h"
#include "kit/QVKeyboard.h"
#include "kit/QVStyle.h"

namespace quorvel {

namespace {

const QColor kRed = QColor::fromRgbF(1.0f, 0.271f, 0.227f);

// A hairline between the header and the rest, and above the transport bar.
class Divider : public QWidget {
public:
    explicit Divider(QWidget* parent = nullptr) : QWidget(parent) {
        setFixedHeight(1);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(rect(), QColor::fromRgbF(1, 1, 1, 0.08f));
    }
};

// One tool of the sidebar: its symbol and title; the selected tool in the accent colour on a rounded
// accent tint, the others dimmed on nothing. The row is checked while its tool is the view's; a press
// asks for the tool and leaves the checking to the view. Not an exclusive group: Qt would then take every
// row but the checked one out of the Tab order.
class SidebarRow : public QAbstractButton {
public:
    static constexpr int kPadding = 13;
    static constexpr int kIcon = 16;
    static constexpr int kGap = 10;

    SidebarRow(QuorvelTool tool, QWidget* parent = nullptr) : QAbstractButton(parent), tool_(tool) {
        setText(qvLiteral(QuorvelTools::title(tool)));
        setCheckable(true);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
        setFont(QVStyle::font(QVText::Subheadline, QFont::Medium));
        setAccessibleName(QuorvelTools::title(tool));
        setProperty(QVKeyboard::kFocusRadius, 12);
        setObjectName(QStringLiteral("sidebar-") + QuorvelTools::rawValue(tool));
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

    QuorvelTool tool() const { return tool_; }

    QSize sizeHint() const override {
        const QFontMetrics fm(font());
        return {2 * kPadding + kIcon + kGap + fm.horizontalAdvance(QuorvelTools::title(tool_)),
                2 * kPadding + std::max(kIcon, fm.height())};
    }

protected:
    void nextCheckState() override {}

    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QColor ink = isChecked() ? QVStyle::accent() : QVStyle::secondary();
        if (isChecked()) {
            QPainterPath shape;
            shape.addRoundedRect(QRectF(rect()), 12, 12);
            QColor tint = QVStyle::accent();
            tint.setAlphaF(0.10f);
            p.fillPath(shape, tint);
        } else if (underMouse()) {
            QPainterPath shape;
            shape.addRoundedRect(QRectF(rect()), 12, 12);
            p.fillPath(shape, QColor::fromRgbF(1, 1, 1, 0.04f));
        }
        const int y = (height() - kIcon) / 2;
        p.drawPixmap(QRect(kPadding, y, kIcon, kIcon),
                     QVIcons::pixmap(QuorvelTools::icon(tool_), kIcon, ink, devicePixelRatioF()));
        p.setPen(ink);
        p.setFont(font());
        const QRect textBox(kPadding + kIcon + kGap, 0, width() - 2 * kPadding - kIcon - kGap, height());
        p.drawText(textBox, Qt::AlignVCenter | Qt::AlignLeft, QuorvelTools::title(tool_));
    }

    void enterEvent(QEnterEvent* e) override {
        QAbstractButton::enterEvent(e);
        update();
    }
    void leaveEvent(QEvent* e) override {
        QAbstractButton::leaveEvent(e);
        update();
    }

private:
    QuorvelTool tool_;
};

}  // namespace

void QuorvelView::buildFrame() {
    setAutoFillBackground(true);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(buildHeader());
    column->addWidget(new Divider);

    auto* split = new QHBoxLayout;
    split->setContentsMargins(0, 0, 0, 0);
    split->setSpacing(0);
    split->addWidget(buildSidebar());
    detail_ = new QVBoxLayout;
    detail_->setContentsMargins(0, 0, 0, 0);
    detail_->setSpacing(0);
    transport_ = new TransportBar(*this);
    detail_->addWidget(transport_);
    split->addLayout(detail_, 1);
    column->addLayout(split, 1);

    // Space alone stops everything from anywhere in the window; a focused text field keeps its space, and
    // Space with a modifier is left alone.
    auto* space = new QShortcut(QKeySequence(Qt::Key_Space), this);
    space->setContext(Qt::WindowShortcut);
    connect(space, &QShortcut::activated, this, &QuorvelView::stopAll);
    QVKeyboard::followLayoutOrder(this);

    showPage();
}

QWidget* QuorvelView::buildHeader() {
    auto* bar = new QWidget;
    bar->setObjectName(QStringLiteral("header"));
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(20, 10, 20, 10);
    row->setSpacing(10);

    row->addWidget(QVIcons::label(QStringLiteral("waveform"), 24, QVStyle::accent()));
    auto* name = new QLabel(QStringLiteral("Quorvel"));
    name->setFont(QVStyle::sizedFont(20, QFont::Bold));
    row->addWidget(name);
    row->addStretch(1);

    QToolButton* guide = QVIcons::button(QStringLiteral("questionmark.circle"), 20, QVStyle::primary(),
                                         QStringLiteral("User guide"));
    guide->setFixedSize(36, 36);
    connect(guide, &QToolButton::clicked, this, [this] { setShowingGuide(true); });
    row->addWidget(guide);

    auto* stop = new QPushButton(QVIcons::icon(QStringLiteral("stop.fill"), kRed),
                                 qvLiteral(QStringLiteral("Stop all")));
    stop->setObjectName(QStringLiteral("stopAll"));
    stop->setIconSize(QSize(12, 12));
    stop->setFont(QVStyle::font(QVText::Caption, QFont::Bold));
    stop->setCursor(Qt::PointingHandCursor);
    stop->setFocusPolicy(Qt::TabFocus);
    QColor fill = kRed;
    fill.setAlphaF(0.15f);
    QColor pressed = kRed;
    pressed.setAlphaF(0.28f);
    const QString css = QStringLiteral(
        "QPushButton#stopAll { color: %1; background: %2; border: none; border-radius: %4px; "
        "padding: 10px 12px; }\n"
        "QPushButton#stopAll:pressed { background: %3; }");
    const int radius = (stop->sizeHint().height()) / 2;
    stop->setStyleSheet(css.arg(kRed.name(), fill.name(QColor::HexArgb), pressed.name(QColor::HexArgb))
                            .arg(std::max(radius, 14)));
    connect(stop, &QPushButton::clicked, this, &QuorvelView::stopAll);
    row->addWidget(stop);
    return bar;
}

QWidget* QuorvelView::buildSidebar() {
    auto* side = new QWidget;
    side->setObjectName(QStringLiteral("sidebar"));
    side->setMinimumWidth(180);
    side->setMaximumWidth(240);
    side->setFixedWidth(210);
    auto* column = new QVBoxLayout(side);
    column->setContentsMargins(10, 0, 10, 0);
    column->setSpacing(6);

    auto* heading = new QLabel(QStringLiteral("WORKSPACE"));
    QVStyle::setText(heading, QVText::Caption2, QVStyle::secondary(), QFont::DemiBold);
    heading->setContentsMargins(16, 22, 16, 8);
    column->addWidget(heading);

    for (QuorvelTool tool : QuorvelTools::allCases) {
        auto* row = new SidebarRow(tool);
        row->setChecked(tool == tool_);
        connect(row, &QAbstractButton::clicked, this, [this, tool] { setTool(tool); });
        // The highlight follows the tool however it changes (the Alignment screen can open Measure).
        connect(this, &QuorvelView::toolChanged, row, [this, row] { row->setChecked(row->tool() == tool_); });
        column->addWidget(row);
    }
    column->addStretch(1);

    auto* footer = new QWidget;
    auto* footRow = new QHBoxLayout(footer);
    footRow->setContentsMargins(16, 16, 16, 16);
    footRow->setSpacing(6);
    footRow->addWidget(QVIcons::label(QStringLiteral("waveform.circle"), 12, QVStyle::secondary()));
    auto* footText = new QLabel(QStringLiteral("Native audio workspace"));
    QVStyle::setText(footText, QVText::Caption2, QVStyle::secondary());
    footRow->addWidget(footText);
    footRow->addStretch(1);
    column->addWidget(footer);
    sidebar_ = side;
    return side;
}

void QuorvelView::showPage() {
    if (page_) {
        // Deleted later: the request to leave may come from a control on the page itself.
        page_->hide();
        detail_->removeWidget(page_);
        page_->deleteLater();
    }
    page_ = page(tool_, this);
    page_->setProperty("quorvelTool", QuorvelTools::rawValue(tool_));
    detail_->insertWidget(0, page_, 1);
    // Shown now rather than by the layout's queued show: each control shown posts a repaint of itself,
    // which then comes in the same pass of the event loop as the new page's first paint (and the old page's
    // deletion), not as a second paint of the whole page after it.
    if (isVisible()) page_->show();
}

}  // namespace quorvel
