// Judging a guess and keeping the tallies.
#include "migliar.h"

using namespace forms;
using namespace Qt::StringLiterals;

void Migliar::Label2_Click(Integer Index) {
    if (!Timer1.Enabled())
        return; // only a running reveal takes a guess

    const QString hidden = Text2.Text();
    const bool right = hidden == Label2(Index).Caption();
    // The tally is counted before anything is written: a tally that Val cannot hold raises here,
    // and the guess then leaves no half-written verdict behind and the reveal goes on.
    TextBox& tally = Text3(right ? 0 : 1);
    const QString counted = CStr(CheckFloat(Val(tally.Text()) + 1));
    Text1(0).setText(right ? u"Да"_s : u"Не"_s);
    tally.setText(counted);
    Text1(0).setText(Text1(0).Text() + u"\r\n"_s);
    Text1(0).setText(((Text1(0).Text() + u"След брой стъпки: "_s) & StepCount) + u"\r\n"_s);

    Timer1.setEnabled(false);
    Command1(0).setEnabled(false); // one guess a letter: only "Чисти" goes on
}
