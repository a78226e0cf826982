#include "design.h"

namespace migliar {

using namespace forms;

namespace {

// The task that the message box shows until the first "Чисти".
constexpr const char16_t* kTask =
    u"В ред житейски ситуации човек няма поглед върху цялата картина и трябва да избере: да реши "
    u"бързо и да поеме риск или да изчака и да разгледа повече подробности.\r\n"
    u"Вторият подход крие по-малък риск, но струва време за реакция.\r\n"
    u"Настоящият проект показва отделни части от една буква, а след определено време – цялата "
    u"буква.\r\n"
    u"Задание: съставете проект, който свързва два учебни предмета – ИТ (информационни технологии) "
    u"и информатика.\r\n"
    u"Тема на проекта: „Мигляр“.\r\n"
    u"Проектът трябва да съдържа следните елементи:\r\n"
    u"– група от радиобутони за избор на начина, по който се показва буквата;\r\n"
    u"– група от обекти, всеки от които съдържа по една буква от азбуката;\r\n"
    u"– група от командни бутони: един извежда нова буква, а друг прави началната настройка.\r\n"
    u"Проектът да показва стъпка по стъпка части от случайно избрана буква, докато тя не се покаже "
    u"цялата или потребителят не направи своя избор. Изборът се прави чрез събитие On-Click върху "
    u"обекта, който съдържа определена буква.\r\n"
    u"Съберете повече информация за видовете шрифтове, които се използват в печатните издания.\r\n";

constexpr const char16_t* kQuotation =
    u"Неприятното в това да си първият, направил нещо по \r\n"
    u"правилния начин, е, че никой не оценява колко трудно е \r\n"
    u"било. \r\n";

} // namespace

const DesignWindow kWindow = {
    .caption = u"www.migliar.example ИТ - показване части на буква",
    .clientWidth = 7485,
    .clientHeight = 6360,
    .backColour = 0x00FFC0C0,
    .fontFace = "Times New Roman",
    .fontPoints = 12,
    .icon = ":/migliar.png",
};

// In focus order. Stacking: 0 is frontmost; the labels lie behind every other control. The last
// column is what a screen reader calls a control that has no caption to say.
// clang-format off
const std::array<DesignControl, 19> kControls = {{
//   name        index kind                  container  left  top   width height text          back colour   points settings                                   tab z   interval said
    {"Text1",    0,    Kind::TextBox,        nullptr,   120,  4440, 7215, 1815, kTask,        SystemColour, 0,     MultiLine | VerticalScrollBar | Locked,           0,  13, 0,       u"Съобщение"},
    {"Text1",    1,    Kind::TextBox,        nullptr,   840,  5520, 6735, 1815, kQuotation,   SystemColour, 0,     Hidden | MultiLine | VerticalScrollBar | Locked,  1,  12, 0,       u"Цитат"},
    {"Label1",   0,    Kind::Label,          nullptr,   1440, 0,    4575, 375,  u"Мигляр",    0x0080C0FF,   0,     Centred,                                  2,  17, 0,       nullptr},
    {"Text2",    -1,   Kind::TextBox,        nullptr,   480,  1320, 1000, 1000, u"Щ",         SystemColour, 48,    Locked | Centred,                         3,  11, 0,       u"Буква"},
    {"Picture1", -1,   Kind::PictureBox,     nullptr,   1440, 1320, 1000, 1000, nullptr,      0x00FFC0C0,   0,     Plain,                                    4,  10, 0,       u"Покривало на буквата"},
    {"Command1", 0,    Kind::CommandButton,  nullptr,   3000, 2880, 1095, 375,  u"Покажи",    0x0080FF80,   0,     Graphical,                                5,  9,  0,       nullptr},
    {"Command1", 1,    Kind::CommandButton,  nullptr,   6120, 2880, 1095, 375,  u"Чисти",     0x000000FF,   0,     Graphical,                                6,  8,  0,       nullptr},
    {"Frame1",   -1,   Kind::Frame,          nullptr,   3000, 840,  2175, 1935, u"Начин за показване", 0x00FFC0C0, 0, Plain,                                 7,  2,  0,       nullptr},
    {"Option1",  0,    Kind::OptionButton,   "Frame1",  240,  300,  1695, 300,  u"Горе-Ляво", 0x00FF8080,   0,     Plain,                                    8,  7,  0,       nullptr},
    {"Option1",  1,    Kind::OptionButton,   "Frame1",  240,  600,  1695, 300,  u"Горе-Дясно", 0x00FF8080,  0,     Plain,                                    9,  6,  0,       nullptr},
    {"Option1",  2,    Kind::OptionButton,   "Frame1",  240,  900,  1695, 300,  u"Долу-Ляво", 0x00FF8080,   0,     Plain,                                    10, 5,  0,       nullptr},
    {"Option1",  3,    Kind::OptionButton,   "Frame1",  240,  1200, 1695, 300,  u"Долу-Дясно", 0x00FF8080,  0,     Plain,                                    11, 4,  0,       nullptr},
    {"Option1",  4,    Kind::OptionButton,   "Frame1",  240,  1500, 1695, 300,  u"Случайно",  0x00FF8080,   0,     Plain,                                    12, 3,  0,       nullptr},
    {"Label2",   0,    Kind::Label,          nullptr,   120,  3000, 405,  405,  u"А",         0x0000FFFF,   14.25, Hidden | Centred,                         13, 16, 0,       nullptr},
    {"Label1",   1,    Kind::Label,          nullptr,   5640, 1200, 855,  375,  u"Вярно:",    0x0080C0FF,   0,     Plain,                                    14, 15, 0,       nullptr},
    {"Label1",   2,    Kind::Label,          nullptr,   5640, 2160, 855,  375,  u"Грешно:",   0x0080C0FF,   0,     Plain,                                    15, 14, 0,       nullptr},
    {"Text3",    0,    Kind::TextBox,        nullptr,   6480, 1200, 735,  405,  u"",          SystemColour, 0,     Plain,                                    16, 1,  0,       u"Брой верни отговори"},
    {"Text3",    1,    Kind::TextBox,        nullptr,   6480, 2160, 735,  405,  u"",          SystemColour, 0,     Plain,                                    17, 0,  0,       u"Брой грешни отговори"},
    {"Timer1",   -1,   Kind::Timer,          nullptr,   0,    0,    0,    0,    nullptr,      SystemColour, 0,     Plain,                                    -1, -1, 100,     nullptr},
}};
// clang-format on

} // namespace migliar
