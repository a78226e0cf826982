// The floor to measure the game against: a bare fixed-size Qt Widgets window with the same
// widgets as the game's, at the same places and with the same texts, but Qt's own defaults for
// style, fonts and colours, no forms layer and no game logic.
#include "design.h"
#include "forms.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QWidget>

#include <map>
#include <string>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(forms::PixelOf(migliar::kWindow.clientWidth),
                        forms::PixelOf(migliar::kWindow.clientHeight));
    window.setWindowTitle(QStringLiteral("reference"));

    std::map<std::string, QWidget*> containers;
    QTimer timer; // present but idle, as the game's is until "Покажи"
    for (const forms::DesignControl& d : migliar::kControls) {
        QWidget* parent = d.container ? containers.at(d.container) : &window;
        const QString text = QString::fromUtf16(d.text ? d.text : u"");
        QWidget* widget = nullptr;
        switch (d.kind) {
        case forms::Kind::TextBox:
            if (d.settings & forms::MultiLine)
                widget = new QPlainTextEdit(
                    QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")), parent);
            else
                widget = new QLineEdit(text, parent);
            break;
        case forms::Kind::Label:
            widget = new QLabel(text, parent);
            break;
        case forms::Kind::PictureBox:
            widget = new QWidget(parent);
            break;
        case forms::Kind::CommandButton:
            widget = new QPushButton(text, parent);
            break;
        case forms::Kind::Frame:
            widget = containers[d.name] = new QGroupBox(text, parent);
            break;
        case forms::Kind::OptionButton:
            widget = new QRadioButton(text, parent);
            break;
        case forms::Kind::Timer:
            timer.setInterval(d.interval);
            continue;
        }
        widget->setGeometry(forms::PixelRect(d.left, d.top, d.width, d.height));
        widget->setVisible(!(d.settings & forms::Hidden));
    }
    for (int k = 1; k <= 30; ++k) // the letter board
        (new QLabel(QString(QChar(0x40F + k)), &window))
            ->setGeometry(38 + 30 * ((k - 1) % 15), 230 + 30 * ((k - 1) / 15), 27, 27);

    window.show();
    return QApplication::exec();
}
