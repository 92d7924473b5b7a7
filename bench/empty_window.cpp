// The floor for the whole-process start: the least a Qt Widgets program does
// to put one window on the screen. Measured exactly like dlscope.
//
// With --button the window holds one push button with a caption instead: a
// second reference that also pays for what any window showing text pays
// before its first map (the font database, the style's metrics).

#include <QApplication>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

#include <cstring>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const bool button = argc > 1 && std::strcmp(argv[1], "--button") == 0;
    QWidget window;
    window.setWindowTitle(button ? QStringLiteral("button window") : QStringLiteral("empty window"));
    if (button)
        (new QVBoxLayout(&window))->addWidget(new QPushButton(QStringLiteral("B7 Geomatry Mode"), &window));
    window.show();
    return app.exec();
}
