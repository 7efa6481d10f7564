#pragma once
// The strip pinned under every page: what is sounding (the routed generator first while it plays, else the
// player, whose idle "Stopped" reads "Ready"), a busy spinner, the player's error button, play/pause and
// stop, the level slider of whichever source it drives, and the output-route button.
//
// The slider drives the routed generator's level on the Signals page in interface mode and the player's
// level everywhere else; it writes on every change of value. While a song of the music server is the
// source there is no slider: the song plays at the server's volume. Stop runs the view's Stop all.
//
// It keeps no state of its own: every shown value follows the models and the view. Main thread only.
#include <QString>
#include <QWidget>

class QLabel;
class QSlider;
class QToolButton;

namespace quorvel {

class QuorvelView;
class RoutePicker;

class TransportBar : public QWidget {
    Q_OBJECT
public:
    static constexpr double kMinLevelDB = -60;
    static constexpr double kMaxLevelDB = 0;

    explicit TransportBar(QuorvelView& view, QWidget* parent = nullptr);

    // "<whole dB> dB": the level truncated toward zero, never "-0" (−0.4 reads "0 dB", −30.9 "-30 dB").
    // A level that is not finite reads "-- dB". Any thread.
    static QString levelText(double levelDB);

    // The texts and states as shown, for the tests and accessibility.
    QString statusText() const;
    QString statusIcon() const { return statusIcon_; }
    QString shownLevelText() const;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    class Spinner;

    // Re-reads everything shown from the models and the view.
    void refresh();
    // True where the slider drives the routed generator: the Signals page in interface mode.
    bool drivesRouted() const;
    double levelTarget() const;
    void setLevelTarget(double db);

    QuorvelView& view_;
    QString statusIcon_;
    QLabel* icon_ = nullptr;
    QLabel* status_ = nullptr;
    QToolButton* error_ = nullptr;
    Spinner* spinner_ = nullptr;
    QToolButton* playPause_ = nullptr;
    QToolButton* stop_ = nullptr;
    QSlider* slider_ = nullptr;
    QLabel* level_ = nullptr;
    QLabel* musicVolume_ = nullptr;
    RoutePicker* route_ = nullptr;
};

}  // namespace quorvel
