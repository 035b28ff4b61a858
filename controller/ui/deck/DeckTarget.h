#pragma once

#include <functional>

#include <QString>

namespace dovrel::controller {

// Where the deck's asks go: the window's root, which opens, renames and unpairs the saved machines,
// shows the pairing screen and the account, and knows who is signed in. Main thread.
class DeckTarget {
public:
    virtual ~DeckTarget() = default;

    // The saved machine in that row of the store.
    virtual void open(int row) = 0;
    virtual void renameRequested(int row) = 0;
    virtual void unpairRequested(int row) = 0;
    virtual void showPairing() = 0;
    // The account chip: signing out when signed in, else the sign-in sheet.
    virtual void accountTapped() = 0;

    // The signed-in account's name; empty when signed out.
    virtual QString accountName() const = 0;
    // `listener` is called each time the account's name changes. One listener; a later one replaces it.
    virtual void onAccountNameChanged(std::function<void()> listener) = 0;
};

} // namespace dovrel::controller
