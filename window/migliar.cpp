#include "migliar.h"

#include "design.h"

Migliar::Migliar()
    : Form(migliar::kWindow, migliar::kControls), Text1(array<forms::TextBox>("Text1")),
      Label1(array<forms::Label>("Label1")), Text2(single<forms::TextBox>("Text2")),
      Picture1(single<forms::PictureBox>("Picture1")),
      Command1(array<forms::CommandButton>("Command1")), Frame1(single<forms::Frame>("Frame1")),
      Option1(array<forms::OptionButton>("Option1")), Label2(array<forms::Label>("Label2")),
      Text3(array<forms::TextBox>("Text3")), Timer1(timer("Timer1")) {
    // The events the game handles; Load is raised by Start().
    Command1.onClick = [this](Integer i) { Command1_Click(i); };
    Option1.onClick = [this](Integer i) { Option1_Click(i); };
    Label2.onClick = [this](Integer i) { Label2_Click(i); };
    Timer1.onTimer = [this] { Timer1_Timer(); };
}
