#pragma once

#include <QAbstractItemModel>
#include <QLocale>
#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include "controller/services/DeviceStore.h"
#include "controller/services/MachineWaker.h"
#include "controller/services/UsageMeter.h"
#include "controller/ui/deck/DeckMachines.h"
#include "controller/ui/deck/DeckTarget.h"

namespace dovrel::controller {

// The usage footer's count: the account's count when there is one, else the local one, grouped as
// `locale` groups digits, followed by " tokens used".
QString tokensUsedText(const UsageMeter& meter, const QLocale& locale);

// The deck's state: the saved machines as cards, whether the empty state shows, the usage footer's
// text, the account chip's name, and the deck's actions. Opening, renaming and unpairing, pairing and
// the account are the root's work: the deck asks its target for them; the privacy frost it flips
// itself (never saved). Opening an asleep machine with a hardware address wakes it first. Main thread.
class DeckViewModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The program makes the deck's model.")
    Q_PROPERTY(QObject* machines READ machinesForView CONSTANT)
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    Q_PROPERTY(bool demo READ demo CONSTANT)
    Q_PROPERTY(QString tokensText READ tokensText NOTIFY tokensTextChanged)
    // The signed-in account's name; empty when signed out.
    Q_PROPERTY(QString accountName READ accountName NOTIFY accountNameChanged)

public:
    DeckViewModel(DeckTarget& target, DeviceStore& store, UsageMeter& usage, MachineWaker& waker, bool demo,
                  QLocale locale, QObject* parent = nullptr);

    QAbstractItemModel* machines() { return &machines_; }
    QObject* machinesForView() { return &machines_; }
    int count() const { return store_.count(); }
    bool demo() const { return demo_; }
    QString tokensText() const { return tokensUsedText(usage_, locale_); }
    QString accountName() const { return target_.accountName(); }

    // A card was clicked: nothing for an offline machine; otherwise a wake first when its card promises
    // one, then the target opens it.
    Q_INVOKABLE void open(int row);
    Q_INVOKABLE void toggleFrost(int row);
    Q_INVOKABLE void rename(int row);
    Q_INVOKABLE void unpair(int row);
    // Pair, the add tile and the empty state's button.
    Q_INVOKABLE void pair() { target_.showPairing(); }
    // The account chip.
    Q_INVOKABLE void account() { target_.accountTapped(); }

signals:
    void countChanged();
    void tokensTextChanged();
    void accountNameChanged();

private:
    const Device* deviceAt(int row) const;

    DeckTarget& target_;
    DeviceStore& store_;
    UsageMeter& usage_;
    MachineWaker& waker_;
    bool demo_;
    QLocale locale_;
    DeckMachines machines_;
};

} // namespace dovrel::controller
