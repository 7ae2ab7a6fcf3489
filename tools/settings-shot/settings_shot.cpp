// Shows the main window on its settings page, with a few groups filled in, and saves a
// picture of it for the documentation.
//   orvik-settings-shot <out.png>
#include "app/MainWindow.h"
#include "app/MainWindowForm.h"
#include "config/GroupsSettingsWindow.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <cstdio>

namespace {
// Modbus mode; groups 1 to 6 hold МСД rows 0 to 5, one device each.
QByteArray exampleSettings()
{
    QByteArray xml = "<!DOCTYPE settings>\n<settings>\n <mode>true</mode>\n";
    for (int i = 0; i < 48; ++i)
        xml += QString(" <group_id msd=\"%1\" mkp=\"%2\">%3</group_id>\n")
                   .arg(i / 8)
                   .arg(i % 8)
                   .arg(i / 8 + 1)
                   .toUtf8();
    for (int g = 1; g <= 6; ++g) {
        xml += QString(" <ModbusAddr%1>%2</ModbusAddr%1>\n").arg(g).arg(10 + g).toUtf8();
        xml += QString(" <Dat%1>%2</Dat%1>\n").arg(g).arg(8 * (g - 1)).toUtf8();
    }
    return xml + "</settings>\n";
}
} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The offscreen platform's default font is larger than a desktop's; take the
    // desktop's usual 9 pt so the picture shows the page as the operator sees it.
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        QApplication::setFont(QFont(QStringLiteral("Sans Serif"), 9));
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <out.png>\n", argv[0]);
        return 2;
    }
    const QString out = QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[1]));
    QTemporaryDir run;
    QFile file(run.filePath(QStringLiteral("settings.xml")));
    if (!run.isValid() || !file.open(QIODevice::WriteOnly) || file.write(exampleSettings()) < 0)
        return 1;
    file.close();
    QDir::setCurrent(run.path());

    MainWindow window;
    MainWindow::instance = &window;
    window.resize(1166, 557);
    window.form()->rb_settings->setChecked(true);
    window.form()->stacked_widget->setCurrentWidget(window.settingsPage());
    window.show();
    QApplication::processEvents();
    const bool ok = window.grab().save(out);
    MainWindow::instance = nullptr;
    return ok ? 0 : 1;
}
