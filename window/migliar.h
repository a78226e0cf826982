// The one window of the game. Its handlers and procedures live in game/, one file a subject;
// this class only names the controls, the two form-level variables and the event bindings.
#pragma once

#include "forms.h"

class Migliar : public forms::Form {
  public:
    using Integer = forms::Integer;

    Migliar();

    // Design controls, by their designer names.
    forms::ControlArray<forms::TextBox>& Text1;
    forms::ControlArray<forms::Label>& Label1;
    forms::TextBox& Text2;
    forms::PictureBox& Picture1;
    forms::ControlArray<forms::CommandButton>& Command1;
    forms::Frame& Frame1;
    forms::ControlArray<forms::OptionButton>& Option1;
    forms::ControlArray<forms::Label>& Label2;
    forms::ControlArray<forms::TextBox>& Text3;
    forms::Timer& Timer1;

    // Form-level variables.
    forms::Variant StepCount;
    Integer RevealMode = 0;

    // Event handlers.
    void Form_Load() override;
    void Command1_Click(Integer Index);
    void Label2_Click(Integer Index);
    void Option1_Click(Integer Index);
    void Timer1_Timer();

  private:
    void NewLetter();
    void RevealTopLeft();
    void RevealTopRight();
    void RevealBottomLeft();
    void RevealBottomRight();
    void MoveCover(int across, int down);
};
