// The command buttons and the reveal-mode options.
#include "migliar.h"

using namespace forms;
using namespace Qt::StringLiterals;

void Migliar::Command1_Click(Integer Index) {
    switch (Index.value()) {
    case 0: // "Покажи"
        Timer1.setEnabled(true);
        break;
    case 1: // "Чисти"
        NewLetter();
        Text1(0).setText(u"Избирайте разумно бързо!"_s);
        break;
    default:
        break;
    }
}

void Migliar::Option1_Click(Integer Index) {
    RevealMode = Index;
}
