#include "controller/ui/pairing/PairingViewModel.h"

int main() {
    qmlRegisterUncreatableType<PairingViewModel>("Dovrel.Controller", 1, 0, "PairingModel", "made by the program");
}
