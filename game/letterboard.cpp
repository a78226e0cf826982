// The letter board and hiding a new letter.
#include "migliar.h"

using namespace forms;
using namespace Qt::StringLiterals;

void Migliar::Form_Load() {
    Randomize();

    // The board follows the hidden template Label2(0): two rows of 15, one step apart.
    const float columnStep = R4(double{Label2(0).Width()} + 50);
    for (Integer i = 0; i <= 1; i = i + 1) {
        for (Integer j = 1; j <= 15; j = j + 1) {
            const Integer k = i * 15 + j;
            Label2.Load(k);
            const float top = Label2(0).Top();
            const float rowStep = R4(double{Label2(0).Height()} + 50);
            Label2(k).setTop(R4(top + double{R4((i + 1).value() * double{rowStep})}));
            Label2(k).setLeft(R4(Label2(0).Left() + double{R4(j.value() * double{columnStep})}));
            Label2(k).setVisible(true);
            Label2(k).setCaption(Chr(Asc(u"А"_s) + k - 1));
        }
    }

    NewLetter();
    Option1(4).setValue(true); // raises Option1_Click(4): the game starts in random mode
}

void Migliar::NewLetter() {
    StepCount = Integer(0);
    Timer1.setEnabled(false);
    Picture1.setLeft(Text2.Left());
    Picture1.setTop(Text2.Top());
    Picture1.setHeight(Text2.Height());
    Picture1.setWidth(Text2.Width());

    // 101 values over 30 letters: not quite uniform, and meant to be so.
    const float r = Rnd(100);
    const std::int32_t v = FpI4(CheckFloat(double{r} * 100));
    const Integer m = v % 30;
    Text2.setText(Label2(m + 1).Caption());

    Command1(0).setEnabled(true);
    for (Integer n = 0; n <= 4; n = n + 1)
        Option1(n).setEnabled(true);
}
