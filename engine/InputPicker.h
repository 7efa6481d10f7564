#pragma once
// A placeholder for an input-device choice: it only carries a guidance text. The input device follows
// the interface choice (InterfacePicker) or the system default, and the input channels are chosen on
// the analyser. Nothing fills its options or changes its selection.
//
// Published state: Q_PROPERTYs without change signals, as nothing observes them.
//
// Threads: main thread only.
#include <QList>
#include <QObject>
#include <QString>

namespace quorvel {

struct InputOption {
    QString id;
    QString name;

    bool operator==(const InputOption&) const = default;
};

class InputPicker : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<InputOption> options READ options)
    Q_PROPERTY(QString selected READ selected)
    Q_PROPERTY(QString status READ status)

public:
    explicit InputPicker(QObject* parent = nullptr) : QObject(parent) {}

    const QList<InputOption>& options() const { return options_; }
    const QString& selected() const { return selected_; }
    const QString& status() const { return status_; }

    // Sets the guidance text; nothing else.
    void refresh();

private:
    QList<InputOption> options_;
    QString selected_;
    QString status_;
};

}  // namespace quorvel
