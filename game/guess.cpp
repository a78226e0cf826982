// Judging a guess and keeping the tallies.
#include "migliar.h"

using namespace forms;
using namespace Qt::StringLiterals;

void Migliar::Label2_Click(Integer Index) {
    if (!Timer1.Enabled())
        return; // only a running reveal takes a guess

    const QString hidden = Text2.Text();
    if (hidden == Label2(Index).Caption()) {
        Text1(0).setText(u"Да"_s);
        Text3(0).setText(CStr(CheckFloat(Val(Text3(0).Text()) + 1)));
    } else {
        Text1(0).setText(u"Не"_s);
        Text3(1).setText(CStr(CheckFloat(Val(Text3(1).Text()) + 1)));
    }
    Text1(0).setText(Text1(0).Text() + u"\r\n"_s);
    Text1(0).setText(((Text1(0).Text() + u"След брой стъпки: "_s) & StepCount) + u"\r\n"_s);

    Timer1.setEnabled(false);
    Command1(0).setEnabled(false); // one guess a letter: only "Чисти" goes on
}
