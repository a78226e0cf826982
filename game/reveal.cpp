// The timed reveal: every tick slides the cover 10 twips further off the letter box.
#include "migliar.h"

using namespace forms;
using namespace Qt::StringLiterals;

void Migliar::Timer1_Timer() {
    Integer d;
    for (d = 0; d <= 4; d = d + 1)
        Option1(d).setEnabled(false);
    if (RevealMode == 4) {
        const float r = Rnd(20);
        d = FpI4(CheckFloat(double{r} * 100)) % 4;
    }
    if (RevealMode < 4)
        d = RevealMode;
    switch (d.value()) {
    case 0:
        RevealTopLeft();
        break;
    case 1:
        RevealTopRight();
        break;
    case 2:
        RevealBottomLeft();
        break;
    case 3:
        RevealBottomRight();
        break;
    default:
        break;
    }
}

void Migliar::RevealTopLeft() {
    MoveCover(+1, +1);
}
void Migliar::RevealTopRight() {
    MoveCover(-1, +1);
}
void Migliar::RevealBottomLeft() {
    MoveCover(+1, -1);
}
void Migliar::RevealBottomRight() {
    MoveCover(-1, -1);
}

// One step: the cover's place follows from the letter box and the step count alone, and the
// reveal ends when the cover has moved one whole letter-box height up or down.
void Migliar::MoveCover(int across, int down) {
    StepCount = StepCount + 1;
    const float left = Text2.Left();
    const double offsetX = (StepCount * 10).AsInteger().value();
    Picture1.setLeft(R4(left + across * offsetX));
    const float top = Text2.Top();
    const double offsetY = (StepCount * 10).AsInteger().value();
    Picture1.setTop(R4(top + down * offsetY));

    const float limitTop = Text2.Top();
    const float height = Text2.Height();
    const float limit = R4(CheckFloat(double{limitTop} + down * double{height}));
    if (Picture1.Top() == limit) { // exact: the cover's Top reads back what was written
        Timer1.setEnabled(false);
        StepCount = Integer(0);
    }
}
